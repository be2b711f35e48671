#pragma once

#include <string>

namespace vantuli::curl {

// Whether libcurl is loaded. The first call, or the first libcurl function
// called, loads it. When it cannot be loaded, the loader's reason goes to
// standard error once and every libcurl function fails as it does without
// the resources it needs (no handle, or an error code), so each request
// ends with a transport failure.
bool loaded();

// Loads libcurl from `folder` instead of along the loader's search path; has
// an effect only before it is first loaded. For tests.
void setLibraryFolder(const std::string &folder);

} // namespace vantuli::curl
