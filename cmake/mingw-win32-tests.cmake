# The shipped programs' 32-bit code once more, with the portable and Windows
# tests, to run under emulated 32-bit Wine: 32-bit registers, long and pointer
# widths, struct layout and stdcall names show their faults here. GoogleTest
# needs std::mutex, which only the posix thread model has, so this build is
# apart from the shipped one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CE_TARGET win32)
set(CE_WIN32_TESTS ON)
set(CE_MINGW_PREFIX i686-w64-mingw32)
set(CE_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
