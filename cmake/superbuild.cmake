# The host build also drives the other builds, so one configure, one build and
# one ctest cover everything:
#   sanitize/  the host code again under AddressSanitizer and UBSan
#   win32/        the shipped 32-bit programs, run under emulated 32-bit Wine
#   win32-tests/  the portable and Windows tests as 32-bit programs, run there too
#   win64/        the same programs and tests as 64-bit ones, run under wine64
include(ExternalProject)

set(CE_SUB_COMMON -G ${CMAKE_GENERATOR} -DCE_SUPERBUILD=OFF -DCE_WERROR=${CE_WERROR})
foreach(sub sanitize win32 win32-tests win64)
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

# The shipped programs beside cepack, laid out as an installed tree has them
# (PREFIX/bin/cepack, PREFIX/share/cepack/): cepack build and new look for
# them relative to themselves, in the build tree in build/share/cepack.
set(CE_SHARED_PROGRAMS ${CMAKE_BINARY_DIR}/win32/launcher/zipstub.exe
    ${CMAKE_BINARY_DIR}/win32/installer/install.exe)
add_custom_target(shared_programs ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/cepack
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CE_SHARED_PROGRAMS} ${CMAKE_BINARY_DIR}/share/cepack/
  VERBATIM)
add_dependencies(shared_programs build_win32)
install(FILES ${CE_SHARED_PROGRAMS} DESTINATION share/cepack)

# The Windows release of cepack: the shipped 32-bit cepack.exe with the
# programs beside it as in an installed tree, and a README for authors.
set(CE_RELEASE_ZIP ${CMAKE_BINARY_DIR}/cepack-${PROJECT_VERSION}-windows.zip)
add_custom_target(cepack_release ALL
  COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/make-release-zip.py ${CE_RELEASE_ZIP}
    bin/cepack.exe=${CMAKE_BINARY_DIR}/win32/tools/cepack/cepack.exe
    share/cepack/zipstub.exe=${CMAKE_BINARY_DIR}/win32/launcher/zipstub.exe
    share/cepack/install.exe=${CMAKE_BINARY_DIR}/win32/installer/install.exe
    README.txt=${CMAKE_SOURCE_DIR}/resources/cepack/README.txt
  BYPRODUCTS ${CE_RELEASE_ZIP}
  VERBATIM)
add_dependencies(cepack_release build_win32)

set(CE_SANITIZE_DIR ${CMAKE_BINARY_DIR}/sanitize)
set(CE_WIN32_DIR ${CMAKE_BINARY_DIR}/win32)
set(CE_WIN32_TESTS_DIR ${CMAKE_BINARY_DIR}/win32-tests)
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
# Windows tests make windows, which Wine can only do with a display. Wine picks
# its display driver when a prefix's server starts, so these get a prefix of
# their own, one run at a time. Every wine test runs in both bitnesses; the
# 32-bit ones under emulation (scripts/setup-wine32.sh).
set(CE_XPREFIX ${CMAKE_BINARY_DIR}/wineprefix-x)
foreach(bits 64 32)
  if(bits STREQUAL "64")
    set(name wine)
    set(dir ${CE_WIN64_DIR})
  else()
    set(name wine32)
    set(dir ${CE_WIN32_TESTS_DIR})
  endif()
  add_test(NAME ${name}.unit COMMAND ${CE_WINE_RUN} ${dir}/tests/unit_tests.exe)
  add_test(NAME ${name}.win COMMAND xvfb-run -a ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh ${CE_XPREFIX}
    ${dir}/tests/win_tests.exe)
  set_tests_properties(${name}.win PROPERTIES RESOURCE_LOCK wineprefix-x)
  # The double-byte tests and the names table again with the Japanese ANSI
  # code page (932), the names table with the Russian one (1251).
  add_test(NAME ${name}.unit.dbcs COMMAND ${CE_WINE_RUN} ${dir}/tests/unit_tests.exe --gtest_filter=Dbcs*:Utf8Names*)
  set_tests_properties(${name}.unit.dbcs PROPERTIES ENVIRONMENT "LC_ALL=ja_JP.UTF-8")
  add_test(NAME ${name}.unit.cp1251 COMMAND ${CE_WINE_RUN} ${dir}/tests/unit_tests.exe --gtest_filter=Utf8Names*)
  set_tests_properties(${name}.unit.cp1251 PROPERTIES ENVIRONMENT "LC_ALL=ru_RU.UTF-8")
  set_tests_properties(${name}.unit ${name}.win ${name}.unit.dbcs ${name}.unit.cp1251 PROPERTIES
    FIXTURES_REQUIRED wine LABELS "${name}")
endforeach()

# cepack.exe: the cepack cases of host_tests against the x86_64 twin under
# wine64, and the shipped 32-bit one from the release archive under
# emulation. One prefix of their own, whose server the cases end.
set(CE_CEPACK_PREFIX ${CMAKE_BINARY_DIR}/wineprefix-cepack)
add_test(NAME wine.cepack COMMAND ${CMAKE_SOURCE_DIR}/scripts/cepack-wine-tests.sh ${CE_CEPACK_PREFIX}
  ${CE_WIN64_DIR}/tools/cepack/cepack.exe $<TARGET_FILE:host_tests>)
add_test(NAME wine32.cepack COMMAND ${CMAKE_SOURCE_DIR}/scripts/cepack-smoke32.sh ${CE_CEPACK_PREFIX}
  ${CE_RELEASE_ZIP} ${CMAKE_SOURCE_DIR}/examples/sample $<TARGET_FILE:cepack>)
set_tests_properties(wine.cepack wine32.cepack PROPERTIES LABELS "cepack-windows" TIMEOUT 600
  RESOURCE_LOCK wineprefix-cepack)

add_test(NAME win32.pe COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-pe.sh ${CE_WIN32_DIR}/executables.txt pe32)
add_test(NAME win64.pe COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-pe.sh ${CE_WIN64_DIR}/executables.txt pe32+)
set_tests_properties(win32.pe win64.pe PROPERTIES LABELS "pe")
# A branded package of each bitness's stub read back by Debian's pefile (the
# system Python's): version information, icon group, layout, checksum.
find_program(CE_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
foreach(bits 32 64)
  add_test(NAME win${bits}.branding COMMAND ${CE_SYSTEM_PYTHON} ${CMAKE_SOURCE_DIR}/tests/pe/check_branding.py
    $<TARGET_FILE:cepack> ${CMAKE_BINARY_DIR}/win${bits}/launcher/zipstub.exe ${CE_WIN32_DIR}/installer/install.exe)
  set_tests_properties(win${bits}.branding PROPERTIES LABELS "pe")
endforeach()

# End-to-end: the launcher and the installer under wine64 and Xvfb, steered
# by the UI driver, and the fault sweeps; each once with the win64 programs
# and once with the shipped win32 ones (--programs), which run emulated. The
# helpers stay 64-bit. Each mode has prefixes of its own: Wine picks its
# display driver when a prefix's server starts, and the suites end their
# server when they finish.
if(TARGET cepack)
  set(CE_CEPACK $<TARGET_FILE:cepack>)
else()
  set(CE_CEPACK ${CMAKE_BINARY_DIR}/tools/cepack/cepack)
endif()
set(CE_E2E_COMMON --win64 ${CE_WIN64_DIR} --cepack ${CE_CEPACK})
foreach(bits 64 32)
  if(bits STREQUAL "64")
    set(mode "")
    set(programs ${CE_WIN64_DIR})
    set(sweep_size "")
  else()
    set(mode 32)
    set(programs ${CE_WIN32_DIR})
    # The emulated programs unpack several times slower.
    set(sweep_size --big-mb 32)
  endif()
  set(prefix ${CMAKE_BINARY_DIR}/wineprefix-e2e${mode})
  add_test(NAME e2e${mode}.launcher COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.py
    ${CE_E2E_COMMON} --programs ${programs} --prefix ${prefix})
  add_test(NAME e2e${mode}.installer COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/e2e/run_installer_e2e.py
    ${CE_E2E_COMMON} --programs ${programs} --prefix ${prefix})
  # Both suites use one prefix and end its server when they finish: one at a time.
  set_tests_properties(e2e${mode}.launcher e2e${mode}.installer PROPERTIES FIXTURES_REQUIRED wine
    LABELS "e2e${mode}" TIMEOUT 900 RESOURCE_LOCK wineprefix-e2e${mode})
  # Fault sweeps: the launcher on damaged packages and cancelled at many moments.
  add_test(NAME sweep${mode}.launcher COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/e2e/sweeps.py
    ${CE_E2E_COMMON} --programs ${programs} --prefix ${CMAKE_BINARY_DIR}/wineprefix-sweep${mode} ${sweep_size})
  # The longest runs: started first, so the two lanes of ctest -j2 end together.
  set_tests_properties(sweep${mode}.launcher PROPERTIES FIXTURES_REQUIRED wine LABELS "sweep${mode}"
    TIMEOUT 1200 COST 1000)
endforeach()

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
