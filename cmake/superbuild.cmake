# The host build also drives the other builds, so one configure, one build and
# one ctest cover everything:
#   sanitize/  the host code again under AddressSanitizer and UBSan
#   win32/     the shipped 32-bit programs (compiled and inspected, never run)
#   win64/     the same programs and the Windows tests, run under wine64
include(ExternalProject)

set(CE_SUB_COMMON -G ${CMAKE_GENERATOR} -DCE_SUPERBUILD=OFF -DCE_WERROR=${CE_WERROR})
foreach(sub sanitize win32 win64)
  set(args ${CE_SUB_COMMON})
  if(sub STREQUAL "sanitize")
    list(APPEND args -DCE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo)
  else()
    list(APPEND args -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-${sub}.cmake
         -DCMAKE_BUILD_TYPE=Release)
  endif()
  ExternalProject_Add(build_${sub}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/${sub}
    CMAKE_ARGS ${args}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    STEP_TARGETS build)
endforeach()

set(CE_SANITIZE_DIR ${CMAKE_BINARY_DIR}/sanitize)
set(CE_WIN32_DIR ${CMAKE_BINARY_DIR}/win32)
set(CE_WIN64_DIR ${CMAKE_BINARY_DIR}/win64)
set(CE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CE_WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh ${CE_WINEPREFIX})

add_test(NAME sanitize.unit COMMAND ${CE_SANITIZE_DIR}/tests/unit_tests)
set_tests_properties(sanitize.unit PROPERTIES LABELS "sanitize"
  ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1")
add_test(NAME sanitize.host COMMAND ${CE_SANITIZE_DIR}/tests/host_tests)
set_tests_properties(sanitize.host PROPERTIES LABELS "sanitize"
  ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1")

add_test(NAME wine.prefix COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh ${CE_WINEPREFIX})
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine LABELS "wine")
add_test(NAME wine.unit COMMAND ${CE_WINE_RUN} ${CE_WIN64_DIR}/tests/unit_tests.exe)
# Windows tests make windows, which Wine can only do with a display. Wine picks
# its display driver when a prefix's server starts, so these get a prefix of
# their own.
add_test(NAME wine.win COMMAND xvfb-run -a ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh
  ${CMAKE_BINARY_DIR}/wineprefix-x ${CE_WIN64_DIR}/tests/win_tests.exe)
# The double-byte tests again with the Japanese ANSI code page (932).
add_test(NAME wine.unit.dbcs COMMAND ${CE_WINE_RUN} ${CE_WIN64_DIR}/tests/unit_tests.exe --gtest_filter=Dbcs*)
set_tests_properties(wine.unit.dbcs PROPERTIES ENVIRONMENT "LC_ALL=ja_JP.UTF-8")
set_tests_properties(wine.unit wine.win wine.unit.dbcs PROPERTIES FIXTURES_REQUIRED wine LABELS "wine")

add_test(NAME win32.pe COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-pe.sh ${CE_WIN32_DIR}/executables.txt pe32)
add_test(NAME win64.pe COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-pe.sh ${CE_WIN64_DIR}/executables.txt pe32+)
set_tests_properties(win32.pe win64.pe PROPERTIES LABELS "pe")

# End-to-end: the win64 launcher under wine64 and Xvfb, steered by the UI
# driver. It uses a prefix of its own: Wine picks its display driver when a
# prefix's server starts, and the other wine tests start theirs without X.
if(TARGET cepack)
  set(CE_CEPACK $<TARGET_FILE:cepack>)
else()
  set(CE_CEPACK ${CMAKE_BINARY_DIR}/tools/cepack/cepack)
endif()
add_test(NAME e2e.launcher COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.py
  --win64 ${CE_WIN64_DIR} --cepack ${CE_CEPACK} --prefix ${CMAKE_BINARY_DIR}/wineprefix-e2e)
set_tests_properties(e2e.launcher PROPERTIES FIXTURES_REQUIRED wine LABELS "e2e" TIMEOUT 900)
add_test(NAME e2e.installer COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/e2e/run_installer_e2e.py
  --win64 ${CE_WIN64_DIR} --cepack ${CE_CEPACK} --prefix ${CMAKE_BINARY_DIR}/wineprefix-e2e)
set_tests_properties(e2e.installer PROPERTIES FIXTURES_REQUIRED wine LABELS "e2e" TIMEOUT 900)
# Both suites use one prefix and end its server when they finish: one at a time.
set_tests_properties(e2e.launcher e2e.installer PROPERTIES RESOURCE_LOCK wineprefix-e2e)

# Fault sweeps: the launcher on damaged packages and cancelled at many
# moments. A prefix, display and wine server of their own, shared by all runs.
add_test(NAME sweep.launcher COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/e2e/sweeps.py
  --win64 ${CE_WIN64_DIR} --cepack ${CE_CEPACK} --prefix ${CMAKE_BINARY_DIR}/wineprefix-sweep)
set_tests_properties(sweep.launcher PROPERTIES FIXTURES_REQUIRED wine LABELS "sweep" TIMEOUT 1200)

# ---- fuzz: the core under libFuzzer (clang; tests/fuzz) --------------------------
# A build of its own with clang: only the core libraries and the fuzz targets.
# Each fuzzer replays its kept regression inputs and runs 30 seconds.
ExternalProject_Add(build_fuzz
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
  CMAKE_ARGS ${CE_SUB_COMMON} -DCE_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
             -DCMAKE_BUILD_TYPE=RelWithDebInfo
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  STEP_TARGETS build)
set(CE_FUZZ_DIR ${CMAKE_BINARY_DIR}/fuzz)
set(CE_FUZZ_RUN ${CMAKE_SOURCE_DIR}/tests/fuzz/run.sh -b ${CE_FUZZ_DIR})
ce_glob(ce_fuzzer_sources ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzzer.cpp)
foreach(source ${ce_fuzzer_sources})
  get_filename_component(stem ${source} NAME_WE)
  string(REGEX REPLACE "_fuzzer$" "" name ${stem})
  add_test(NAME fuzz.${name}.replay COMMAND ${CE_FUZZ_RUN} --replay ${name})
  add_test(NAME fuzz.${name} COMMAND ${CE_FUZZ_RUN} ${name} 30)
  set_tests_properties(fuzz.${name}.replay fuzz.${name} PROPERTIES LABELS "fuzz")
endforeach()
