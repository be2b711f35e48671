#pragma once

#include <QString>

namespace vantuli::TextFolding {

// Case-, diacritic- and width-insensitive form of a text, for search:
// compatibility decomposition (full-width letters become plain ones),
// non-spacing marks dropped, then case folding.
QString fold(const QString &text);

} // namespace vantuli::TextFolding
