# GoogleTest, and the labels every test carries (scripts/check-labels.sh
# fails on a test without one):
#   unit         quick tests that need the dev preset's packages alone:
#                `ctest --preset unit` runs them in seconds
#   slow         tests over gigabyte files and the like (GoogleTest names containing "Slow")
#   wine         Windows programs under Wine
#   browser      the page in headless chromium
#   integration  other programs: Python and its packages, file, YARA,
#                binwalk, Kaitai Struct, the package tools

# VEXMIRA_GTEST_SOURCE builds GoogleTest from source (Debian ships it in
# /usr/src/googletest) for builds that the installed libraries do not fit,
# such as the 32-bit one.
set(VEXMIRA_GTEST_SOURCE "" CACHE PATH "GoogleTest sources to build instead of the installed libraries")

# Test programs that run under an emulator (the 32-bit build under qemu-user)
# see VEXMIRA_EMULATED: limits on address space do not apply there.
option(VEXMIRA_EMULATED "The test programs run under an emulator" OFF)
if(VEXMIRA_EMULATED)
  add_compile_definitions(VEXMIRA_EMULATED)
endif()

macro(vexmira_find_gtest)
  if(VEXMIRA_GTEST_SOURCE)
    if(NOT TARGET gtest_main)
      set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      add_subdirectory(${VEXMIRA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
      # Not our code: its warnings are not ours to fail on.
      set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
      if(NOT TARGET GTest::gtest_main)  # recent sources define these names themselves
        add_library(GTest::gtest ALIAS gtest)
        add_library(GTest::gtest_main ALIAS gtest_main)
      endif()
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endmacro()

# Registers a GoogleTest executable's cases, labelled unit or slow by name.
function(vexmira_discover_tests target)
  gtest_discover_tests(${target} TEST_FILTER "-*Slow*" DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
  gtest_discover_tests(${target} TEST_FILTER "*Slow*" DISCOVERY_TIMEOUT 60 PROPERTIES LABELS slow)
endfunction()
