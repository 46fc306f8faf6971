# File naming decides where a source goes:
#   name_win32.cpp  Windows only;  name_posix.cpp / name_host.cpp  host only;
#   anything else   portable core (no <windows.h>).
# In launcher/ and installer/, the _win32 files make up the programs.
function(ce_glob out)
  file(GLOB files CONFIGURE_DEPENDS ${ARGN})
  set(${out} ${files} PARENT_SCOPE)
endfunction()

function(ce_portable_sources out dir)
  ce_glob(files ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
  list(FILTER files EXCLUDE REGEX "_(win32|posix|host)\\.cpp$")
  set(${out} ${files} PARENT_SCOPE)
endfunction()

function(ce_platform_sources out dir)
  if(CE_IS_WINDOWS)
    ce_glob(files ${CMAKE_SOURCE_DIR}/${dir}/*_win32.cpp)
  else()
    ce_glob(files ${CMAKE_SOURCE_DIR}/${dir}/*_posix.cpp ${CMAKE_SOURCE_DIR}/${dir}/*_host.cpp)
  endif()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# Applies the flags of code that ships inside the Windows programs.
function(ce_program_code target)
  target_compile_options(${target} PRIVATE ${CE_WARNINGS})
  if(CE_IS_WINDOWS)
    target_compile_options(${target} PRIVATE ${CE_PROGRAM_CXX_FLAGS})
  endif()
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
endfunction()

# Links a shipped program with the program flags and its own entry point
# (a WINAPI function without arguments) instead of the C runtime's start-up;
# a change of the linker script links it again.
function(ce_program_link target entry)
  target_link_options(${target} PRIVATE ${CE_PROGRAM_LINK_FLAGS})
  if(CE_PROGRAM_LINK_SCRIPT)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CE_PROGRAM_LINK_SCRIPT})
  endif()
  if(CE_TARGET STREQUAL "win32")
    set(entry _${entry}@0)  # stdcall's decorated name
  endif()
  target_link_options(${target} PRIVATE -nostartfiles -Wl,--entry=${entry})
endfunction()

# Every Windows executable is listed with its intended subsystem, so the
# PE check inspects all of them (scripts/check-pe.sh).
# Optional further arguments: the execution level its manifest must ask for,
# and the most bytes the shipped 32-bit file may take.
function(ce_register_executable target subsystem)
  string(REPLACE ";" " " rest "${ARGN}")
  set_property(GLOBAL APPEND PROPERTY CE_EXECUTABLES "$<TARGET_FILE:${target}> ${subsystem} ${rest}")
endfunction()

function(ce_write_executable_list)
  get_property(list GLOBAL PROPERTY CE_EXECUTABLES)
  string(REPLACE ";" "\n" content "${list}")
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/executables.txt CONTENT "${content}\n")
endfunction()

# windres's inputs (manifest, icon, included .rc files) are not scanned for
# changes: make the .rc depend on everything in its folder.
function(ce_resource_dependencies rc)
  get_filename_component(dir ${rc} DIRECTORY)
  file(GLOB inputs CONFIGURE_DEPENDS ${dir}/*)
  list(REMOVE_ITEM inputs ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${inputs}")
endfunction()
