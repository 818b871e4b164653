# The Windows program: 32-bit x86.
set(mingw_arch i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
