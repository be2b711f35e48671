#pragma once

#include <string>

namespace vantuli::ffmpeg {

// Whether FFmpeg's libraries are loaded. The first call, or the first FFmpeg
// function called, loads them. When one cannot be loaded, the loader's reason
// goes to standard error once and every FFmpeg function fails as it does
// without the resources it needs (no object, or an error code).
bool loaded();

// Loads the libraries from `folder` instead of along the loader's search
// path; has an effect only before they are first loaded. For tests.
void setLibraryFolder(const std::string &folder);

} // namespace vantuli::ffmpeg
