# The Windows program for 64-bit x86, for a Wine that runs only 64-bit programs.
set(mingw_arch x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
