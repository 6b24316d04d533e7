# Helpers for the mingw builds.

# Header-only libraries under the mingw toolchain. Debian's CMake configs for
# them add -isystem /usr/include, where glibc's headers shadow mingw's; each
# gets instead a folder in the build tree that holds a link to its headers alone.
# Usage: vexmira_header_only(TARGET FOLDER), e.g. (vexmira_cli11 CLI) for <CLI/CLI.hpp>.
function(vexmira_header_only target folder)
  find_path(VEXMIRA_${folder}_INCLUDE ${folder} PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(only ${CMAKE_BINARY_DIR}/header-only/${folder})
  file(MAKE_DIRECTORY ${only})
  file(CREATE_LINK ${VEXMIRA_${folder}_INCLUDE}/${folder} ${only}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${only})
endfunction()

# A test of a built Windows file that does not run it: its machine, its
# imports (Windows system DLLs alone, so no runtime DLL) and, for the plug-in
# (KIND dll), its exports.
# Usage: vexmira_pe_check(TEST_NAME TARGET KIND), KIND: dll or exe.
function(vexmira_pe_check name target kind)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(format pe-i386)
  else()
    set(format pe-x86-64)
  endif()
  string(REGEX REPLACE "g\\+\\+(-posix)?$" "objdump" objdump "${CMAKE_CXX_COMPILER}")
  add_test(NAME ${name}
    COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/check_dll.sh $<TARGET_FILE:${target}> ${objdump} ${format} ${kind})
endfunction()
