# The same programs as 64-bit executables, so they can run under wine64 here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CE_TARGET win64)
set(CE_MINGW_PREFIX x86_64-w64-mingw32)
# GoogleTest needs std::mutex, which only the posix thread model has; this
# build exists to run the programs and the tests under wine64.
set(CE_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
