set(CE_WARNINGS -Wall -Wextra)
option(CE_WERROR "Treat warnings as errors" ON)
if(CE_WERROR)
  list(APPEND CE_WARNINGS -Werror)
endif()

# Flags for code that goes into the shipped Windows programs: small, no
# exceptions or RTTI, nothing beyond system DLLs at run time. No
# -fdata-sections: with it, MinGW's compiler puts zero-initialised buffers
# into .data$name sections, which take their full size in the file instead
# of living in .bss. -Oz trades a little speed outside the decoder (which
# has its own -O2) for size; it keeps a frame pointer in every function,
# which costs more than it saves. -malign-data=abi: arrays and strings keep
# the alignment their type needs instead of 32 bytes, which left gaps
# between the texts.
set(CE_PROGRAM_CXX_FLAGS -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -ffunction-sections -Oz -fomit-frame-pointer -malign-data=abi)
# 32-bit: arguments are pushed rather than stored into an area reserved with
# the frame, 1 KB less code in zipstub and 2 KB in install. GCC pushes only
# without stack probes, which a frame of a page (4 KB) or more needs to reach
# the stack's guard page first: no frame may come near that, nor have a size
# known only at run time. The stack is kept to the 4-byte alignment that is
# all Win32 promises (callbacks from the system arrive so) instead of 16:
# GCC otherwise pads around every call to keep 16, 1.8 KB of zipstub's code;
# the few functions with vectors realign their own frames.
if(CE_TARGET STREQUAL "win32")
  list(APPEND CE_PROGRAM_CXX_FLAGS -mno-accumulate-outgoing-args -mno-stack-arg-probe
       -Werror=frame-larger-than=4000 -Werror=vla -Werror=alloca -mpreferred-stack-boundary=2)
endif()
# Terminal-Server-aware: on a Remote Desktop session host the system gives the
# programs its own Windows directory, not a per-user copy.
set(CE_PROGRAM_LINK_FLAGS -static -static-libgcc -static-libstdc++ -Wl,--gc-sections -s -Wl,--tsaware)
# The shipped programs' section layout: one 512-byte block less (see the script).
if(CE_TARGET STREQUAL "win32")
  set(CE_PROGRAM_LINK_SCRIPT ${CMAKE_SOURCE_DIR}/cmake/program-win32.ld)
  list(APPEND CE_PROGRAM_LINK_FLAGS -Wl,-T,${CE_PROGRAM_LINK_SCRIPT})
endif()

if(CE_SANITIZE)
  set(CE_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${CE_SANITIZE_FLAGS})
  add_link_options(${CE_SANITIZE_FLAGS})
  # The decoder's fast loop as the 32-bit programs have it (the host build has the 64-bit one).
  add_compile_definitions(CE_FAST_WORD_32)
endif()

# The fuzz build: coverage for libFuzzer in everything it compiles; only the
# fuzz targets themselves link libFuzzer's main (tests/fuzz).
if(CE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "CE_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  set(CE_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
      -fno-omit-frame-pointer -g
      -fsanitize-coverage-ignorelist=${CMAKE_SOURCE_DIR}/tests/fuzz/coverage-ignore.txt)
  add_compile_options(${CE_FUZZ_FLAGS})
  add_compile_definitions(CE_FAST_WORD_32)
  add_link_options(-fsanitize=address,undefined)
endif()

if(CE_TARGET STREQUAL "host")
  set(CE_IS_WINDOWS OFF)
else()
  set(CE_IS_WINDOWS ON)
  # Windows 7 API level; newer functions are looked up by name.
  add_compile_definitions(WINVER=0x0601 _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
  # No link time in the PE header: the same sources give the same programs,
  # and so the same packages and release archive, build after build.
  add_link_options(-Wl,--no-insert-timestamp)
endif()
