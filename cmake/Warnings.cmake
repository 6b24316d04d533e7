# Warnings for every target of the project. Every preset treats warnings as
# errors; configure with -DCMAKE_COMPILE_WARNING_AS_ERROR=OFF to look past them
# while working.
if(NOT DEFINED CMAKE_COMPILE_WARNING_AS_ERROR)
  set(CMAKE_COMPILE_WARNING_AS_ERROR ON)
endif()

function(vexmira_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
endfunction()

# Windows builds link the C and C++ runtimes statically, so the plug-in imports
# nothing but system DLLs.
function(vexmira_static_runtime target)
  if(MINGW)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()
