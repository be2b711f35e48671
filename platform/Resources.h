#pragma once

#include <QString>

namespace vantuli::Resources {

// The one resource directory: $VANTULI_RESOURCES when set, else "resources"
// next to the executable, else the installed data directory.
QString directory();

// The path of a resource file inside the directory (it may not exist).
QString path(const QString &name);

// What a resource folder lacks of what the application cannot do without:
// "catalog.json" and the interface tables (<code>.lproj/Localizable.json).
// Empty when it has both.
QStringList missing(const QString &folder);

// Says on standard error what the resource directory lacks, once per
// process; a folder named by mistake (the models folder, say) would
// otherwise only show as an empty directory and untranslated texts.
void reportMissing();

} // namespace vantuli::Resources
