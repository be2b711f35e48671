#pragma once

#include <QString>

namespace vantuli::Resources {

// The one resource directory: $VANTULI_RESOURCES when set, else "resources"
// next to the executable, else the installed data directory.
QString directory();

// The path of a resource file inside the directory (it may not exist).
QString path(const QString &name);

} // namespace vantuli::Resources
