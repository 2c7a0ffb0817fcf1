# Release packaging, included by CMakeLists.txt: the release zip (make package), its files in
# this order, the text files in CR LF for Notepad; package.py adds SHA256SUMS for them. The
# settings go as defaults that the bridge never reads, so that an update cannot replace a
# player's own TolvaneSpeech.ini.
set(TOLVANE_DIST_DIR ${CMAKE_SOURCE_DIR}/dist CACHE PATH "Folder of the release zip")
configure_file(package/README.txt.in package/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(package/TolvaneSpeech-defaults.ini package/TolvaneSpeech-defaults.ini @ONLY NEWLINE_STYLE CRLF)
# BUILDINFO.txt names the tools that built the release, read when CMake configures: each one's
# first --version line and, on Debian, the exact packages (Debian's MinGW g++ names only its
# major version). The same tools give the same bytes.
set(TOLVANE_TOOLCHAIN "CMake ${CMAKE_VERSION}, build type ${CMAKE_BUILD_TYPE}")
if(MSVC)
  list(APPEND TOLVANE_TOOLCHAIN "MSVC ${CMAKE_CXX_COMPILER_VERSION}")
else()
  foreach(tool ${CMAKE_CXX_COMPILER} ${CMAKE_LINKER} ${CMAKE_RC_COMPILER})
    execute_process(COMMAND ${tool} --version OUTPUT_VARIABLE said ERROR_QUIET)
    string(REGEX MATCH "^[^\n]+" said "${said}")
    list(APPEND TOLVANE_TOOLCHAIN "${said}")
  endforeach()
endif()
find_program(TOLVANE_DPKG_QUERY dpkg-query)
if(TOLVANE_DPKG_QUERY)
  execute_process(COMMAND ${TOLVANE_DPKG_QUERY} -W "--showformat=Debian package \${Package} \${Version}\n"
                          g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev cmake
                  OUTPUT_VARIABLE said OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  string(REPLACE "\n" ";" said "${said}")
  list(APPEND TOLVANE_TOOLCHAIN ${said})
endif()
# configure_file's CR LF covers the template's own lines only.
list(JOIN TOLVANE_TOOLCHAIN "\r\n" TOLVANE_TOOLCHAIN)
configure_file(package/BUILDINFO.txt.in package/BUILDINFO.txt @ONLY NEWLINE_STYLE CRLF)
# NV Access's controller client ships as published, with its licence under a name that says whose
# it is.
set(NVDA_CLIENT_DIR ${CMAKE_SOURCE_DIR}/third_party/nvda-controller-client)
configure_file(${NVDA_CLIENT_DIR}/license.txt package/nvdaControllerClient-LICENSE.txt COPYONLY)
set(TOLVANE_ZIPPED
  $<TARGET_FILE:TolvaneSpeech>
  $<TARGET_FILE:TolvaneLaunch>
  ${NVDA_CLIENT_DIR}/2025.1.1-x64/nvdaControllerClient.dll
  ${CMAKE_BINARY_DIR}/package/nvdaControllerClient-LICENSE.txt
  ${CMAKE_BINARY_DIR}/package/TolvaneSpeech-defaults.ini
  ${CMAKE_SOURCE_DIR}/mod/tolvane_speech.lua
  ${CMAKE_BINARY_DIR}/package/README.txt
  ${CMAKE_BINARY_DIR}/package/BUILDINFO.txt)
# Without Python the files still build; only the zip needs it.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_custom_target(release_zip
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/package.py
            ${TOLVANE_DIST_DIR}/TolvaneSpeech-${PROJECT_VERSION}.zip ${TOLVANE_ZIPPED}
    VERBATIM)
  add_dependencies(release_zip TolvaneSpeech TolvaneLaunch)
endif()
