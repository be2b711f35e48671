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
set(BUILD_SHARED_LIBS OFF)
set(WHISPER_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(WHISPER_BUILD_EXAMPLES OFF CACHE BOOL "" FORCE)
set(WHISPER_BUILD_SERVER OFF CACHE BOOL "" FORCE)
set(WHISPER_CURL OFF CACHE BOOL "" FORCE)
set(WHISPER_SDL2 OFF CACHE BOOL "" FORCE)
set(GGML_NATIVE ON CACHE BOOL "" FORCE)
set(GGML_CCACHE OFF CACHE BOOL "" FORCE)
add_subdirectory(${VANTULI_WHISPER_SOURCE} ${CMAKE_BINARY_DIR}/whisper.cpp EXCLUDE_FROM_ALL SYSTEM)
