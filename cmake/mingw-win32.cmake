# The shipped 32-bit programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CE_TARGET win32)
set(CE_MINGW_PREFIX i686-w64-mingw32)
# The win32 thread model keeps winpthreads out of the shipped programs.
set(CE_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
