# whisper.cpp (with its ggml) comes from the npm registry package nodejs-whisper,
# pinned by version and SHA-256. The tarball is fetched with `npm pack` (or a
# plain download when npm is missing) into the build tree, or taken from
# $VANTULI_DEPS_CACHE when that folder already holds it. Nothing is committed.
set(VANTULI_NODEJS_WHISPER_VERSION 0.3.1)
set(VANTULI_NODEJS_WHISPER_SHA256 92041caf2b26c74b7f489fedf37bd093f216eebd61df512045ec2d19d0531d37)

set(_nw_name nodejs-whisper-${VANTULI_NODEJS_WHISPER_VERSION}.tgz)
set(_deps ${CMAKE_BINARY_DIR}/_deps)
set(_tgz ${_deps}/${_nw_name})
file(MAKE_DIRECTORY ${_deps})

function(_vantuli_whisper_tarball_ok out)
  set(${out} FALSE PARENT_SCOPE)
  if(EXISTS ${_tgz})
    file(SHA256 ${_tgz} _sum)
    if(_sum STREQUAL VANTULI_NODEJS_WHISPER_SHA256)
      set(${out} TRUE PARENT_SCOPE)
    endif()
  endif()
endfunction()

_vantuli_whisper_tarball_ok(_ok)
if(NOT _ok AND DEFINED ENV{VANTULI_DEPS_CACHE} AND EXISTS $ENV{VANTULI_DEPS_CACHE}/${_nw_name})
  file(COPY $ENV{VANTULI_DEPS_CACHE}/${_nw_name} DESTINATION ${_deps})
  _vantuli_whisper_tarball_ok(_ok)
endif()
if(NOT _ok)
  find_program(NPM_EXECUTABLE npm)
  if(NPM_EXECUTABLE)
    message(STATUS "Fetching nodejs-whisper ${VANTULI_NODEJS_WHISPER_VERSION} with npm pack")
    execute_process(COMMAND ${NPM_EXECUTABLE} pack nodejs-whisper@${VANTULI_NODEJS_WHISPER_VERSION} --silent
                    WORKING_DIRECTORY ${_deps} RESULT_VARIABLE _rc OUTPUT_QUIET)
  endif()
  _vantuli_whisper_tarball_ok(_ok)
endif()
if(NOT _ok)
  message(STATUS "Downloading nodejs-whisper ${VANTULI_NODEJS_WHISPER_VERSION} from the npm registry")
  file(DOWNLOAD https://registry.npmjs.org/nodejs-whisper/-/${_nw_name} ${_tgz}
       EXPECTED_HASH SHA256=${VANTULI_NODEJS_WHISPER_SHA256} STATUS _st)
  _vantuli_whisper_tarball_ok(_ok)
endif()
if(NOT _ok)
  message(FATAL_ERROR "Could not get ${_nw_name} with SHA-256 ${VANTULI_NODEJS_WHISPER_SHA256}")
endif()

set(VANTULI_WHISPER_SOURCE ${_deps}/nodejs-whisper-${VANTULI_NODEJS_WHISPER_VERSION}/package/cpp/whisper.cpp)
if(NOT EXISTS ${VANTULI_WHISPER_SOURCE}/CMakeLists.txt)
  file(ARCHIVE_EXTRACT INPUT ${_tgz}
       DESTINATION ${_deps}/nodejs-whisper-${VANTULI_NODEJS_WHISPER_VERSION}
       PATTERNS package/cpp/whisper.cpp)
endif()

# CPU backend tuned for the building machine; the library's own defaults otherwise.
# Linked statically, on every configure: the library's option() would
# otherwise drop this setting on the first configure (its old policy) and
# build it shared, to be loaded at every start.
set(BUILD_SHARED_LIBS OFF)
set(CMAKE_POLICY_DEFAULT_CMP0077 NEW)
set(WHISPER_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(WHISPER_BUILD_EXAMPLES OFF CACHE BOOL "" FORCE)
set(WHISPER_BUILD_SERVER OFF CACHE BOOL "" FORCE)
set(WHISPER_CURL OFF CACHE BOOL "" FORCE)
set(WHISPER_SDL2 OFF CACHE BOOL "" FORCE)
set(GGML_NATIVE ON CACHE BOOL "" FORCE)
set(GGML_CCACHE OFF CACHE BOOL "" FORCE)
# ThreadSanitizer does not see OpenMP's own thread pool and barriers (the
# distribution's runtime is not instrumented), so every hand-off between the
# library's workers reads as a race: under it the library uses its own threads.
if(VANTULI_SANITIZE_THREAD)
  set(GGML_OPENMP OFF CACHE BOOL "" FORCE)
endif()

# The Vulkan backend, beside the CPU backend, where the Vulkan headers and
# loader, glslc and the SPIR-V headers are at hand (tools/setup installs them).
# At run time the recogniser uses it only on a hardware GPU.
option(VANTULI_VULKAN "Build the speech library's Vulkan backend when its tools are present" ON)
set(VANTULI_HAVE_VULKAN OFF)
if(VANTULI_VULKAN)
  find_package(Vulkan QUIET COMPONENTS glslc)
  find_package(SPIRV-Headers CONFIG QUIET)
  if(Vulkan_FOUND AND Vulkan_glslc_FOUND AND SPIRV-Headers_FOUND)
    # The backend's instance setup names VK_EXT_layer_settings (used only by
    # its validation mode), which Vulkan headers before 1.3.2xx lack (Debian 12
    # ships 1.3.239): the extracted source leaves it out where the headers do
    # not know it.
    set(_vk_source ${VANTULI_WHISPER_SOURCE}/ggml/src/ggml-vulkan/ggml-vulkan.cpp)
    set(_vk_settings "    VkBool32 enable_best_practice = layer_settings;\n")
    set(_vk_create "    vk::InstanceCreateInfo instance_create_info(vk::InstanceCreateFlags{}, &app_info, layers, extensions, &layer_setting_info);\n")
    file(READ ${_vk_source} _vk_text)
    string(FIND "${_vk_text}" "#ifdef VK_EXT_layer_settings\n${_vk_settings}" _vk_patched)
    string(FIND "${_vk_text}" "${_vk_settings}" _vk_at_settings)
    string(FIND "${_vk_text}" "${_vk_create}" _vk_at_create)
    if(_vk_patched EQUAL -1 AND NOT _vk_at_settings EQUAL -1 AND NOT _vk_at_create EQUAL -1)
      string(REPLACE "${_vk_settings}" "#ifdef VK_EXT_layer_settings\n${_vk_settings}" _vk_text "${_vk_text}")
      string(REPLACE "${_vk_create}" "${_vk_create}#else\n    vk::InstanceCreateInfo instance_create_info(vk::InstanceCreateFlags{}, &app_info, layers, extensions);\n#endif\n" _vk_text "${_vk_text}")
      file(WRITE ${_vk_source} "${_vk_text}")
      set(_vk_patched 0)
    endif()
    include(CheckCXXSourceCompiles)
    set(CMAKE_REQUIRED_INCLUDES ${Vulkan_INCLUDE_DIRS})
    set(CMAKE_REQUIRED_QUIET ON)
    check_cxx_source_compiles("#include <vulkan/vulkan.hpp>
      int main() { vk::LayerSettingEXT setting{}; (void)setting; return 0; }" VANTULI_VULKAN_LAYER_SETTINGS)
    unset(CMAKE_REQUIRED_INCLUDES)
    unset(CMAKE_REQUIRED_QUIET)
    if(VANTULI_VULKAN_LAYER_SETTINGS OR NOT _vk_patched EQUAL -1)
      set(VANTULI_HAVE_VULKAN ON)
    else()
      message(STATUS "Speech library: Vulkan headers ${Vulkan_VERSION} too old for its Vulkan backend; CPU only")
    endif()
  else()
    message(STATUS "Speech library: no Vulkan backend (needs libvulkan-dev, glslc, spirv-headers); CPU only")
  endif()
endif()
set(GGML_VULKAN ${VANTULI_HAVE_VULKAN} CACHE BOOL "" FORCE)

# The backend compiles some two thousand shader variants with glslc, which
# ccache does not cover: cmake/glslc-cache keeps them in a cache shared by the
# machine's build trees, so that a fresh clone copies them instead.
option(VANTULI_GLSLC_CACHE "Cache the Vulkan backend's compiled shaders across build trees" ON)
if(VANTULI_HAVE_VULKAN AND VANTULI_GLSLC_CACHE)
  find_program(VANTULI_GLSLC_REAL NAMES glslc REQUIRED)
  find_program(VANTULI_FLOCK NAMES flock)
  if(VANTULI_FLOCK)
    file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/glslc-cached
         CONTENT "#!/bin/sh\nexec '${CMAKE_CURRENT_LIST_DIR}/glslc-cache' '${VANTULI_GLSLC_REAL}' \"$@\"\n")
    file(CHMOD ${CMAKE_BINARY_DIR}/glslc-cached PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
         GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set(Vulkan_GLSLC_EXECUTABLE ${CMAKE_BINARY_DIR}/glslc-cached CACHE FILEPATH "glslc" FORCE)
  endif()
endif()

add_subdirectory(${VANTULI_WHISPER_SOURCE} ${CMAKE_BINARY_DIR}/whisper.cpp EXCLUDE_FROM_ALL SYSTEM)
