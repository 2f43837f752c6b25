# Build rules shared by every target of the project.

set(VM_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Wold-style-cast -Wnull-dereference -Werror)

# Windows: no "lib" prefix, everything of the C and C++ runtime linked in,
# so the DLLs import only system DLLs.
if(WIN32)
  set(CMAKE_SHARED_LIBRARY_PREFIX "")
  set(CMAKE_STATIC_LIBRARY_PREFIX "lib")
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  add_link_options(-static -static-libgcc -static-libstdc++)
  enable_language(RC)
  include(${CMAKE_CURRENT_LIST_DIR}/Com.cmake)
  # Doubles in SSE2 registers, as on x86-64: x87 arithmetic keeps extended
  # precision between steps (and follows whatever precision the host process
  # set), so a number text could read as a different double in the two builds.
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    add_compile_options(-msse2 -mfpmath=sse)
  endif()
endif()

if(VM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

# Marks a target as the project's own code: strict warnings as errors.
function(vm_strict target)
  target_compile_options(${target} PRIVATE ${VM_WARNINGS})
endfunction()

# COM classes derive from interfaces without virtual destructors
# ("class X final : public IX"), also in the headers widl writes.
function(vm_com target)
  target_compile_options(${target} PRIVATE -Wno-non-virtual-dtor)
endfunction()

# One unit of the project: the folder that calls it, on its floor.
#   vm_unit(NAME FLOOR n [PORTABLE_FLOOR m] [APART] [OBJECT] [COM]
#           [PORTABLE sources...] [PORTABLE_LIBS libs...]
#           [WINDOWS sources...] [LIBS libs...])
# Targets: NAME_portable holds the sources that need no operating-system call
# and builds in every preset; in the Windows presets NAME holds the WINDOWS
# sources (a static library, or an object library with OBJECT) over
# NAME_portable, elsewhere NAME stands for NAME_portable alone. Link NAME for
# everything of the unit the preset builds, NAME_portable for its portable
# part only.
# Floors: no file includes a header of a higher floor (scripts/check-layers.py
# reads the floors written to <build>/floors.txt). The portable sources (and
# their headers) sit on PORTABLE_FLOOR, default FLOOR; every other file of the
# folder and its subfolders on FLOOR. An APART unit is a library of its own:
# it and the other units of its floor never include each other. A unit with
# no sources only places its folder.
function(vm_unit name)
  cmake_parse_arguments(U "APART;OBJECT;COM" "FLOOR;PORTABLE_FLOOR" "PORTABLE;PORTABLE_LIBS;WINDOWS;LIBS" ${ARGN})
  if(NOT DEFINED U_FLOOR OR U_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "vm_unit(${name}): needs FLOOR n; unknown ${U_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT DEFINED U_PORTABLE_FLOOR)
    set(U_PORTABLE_FLOOR ${U_FLOOR})
  endif()
  if(U_PORTABLE_FLOOR GREATER U_FLOOR)
    message(FATAL_ERROR "vm_unit(${name}): the portable part sits above the unit")
  endif()
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(apart "-")
  if(U_APART)
    set(apart "apart")
  endif()
  set_property(GLOBAL APPEND PROPERTY VM_FLOORS "${U_FLOOR} ${folder} ${name} ${apart}")
  if(NOT U_PORTABLE_FLOOR EQUAL U_FLOOR)
    foreach(source IN LISTS U_PORTABLE)
      string(REGEX REPLACE "\\.[^./]*$" "" stem ${source})
      set_property(GLOBAL APPEND PROPERTY VM_FLOORS "${U_PORTABLE_FLOOR} ${folder}/${stem} ${name} ${apart}")
    endforeach()
  endif()

  if(U_PORTABLE)
    add_library(${name}_portable STATIC ${U_PORTABLE})
    target_include_directories(${name}_portable PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name}_portable PUBLIC ${U_PORTABLE_LIBS})
    vm_strict(${name}_portable)
  endif()
  if(WIN32 AND U_WINDOWS)
    if(U_OBJECT)
      add_library(${name} OBJECT ${U_WINDOWS})
    else()
      add_library(${name} STATIC ${U_WINDOWS})
    endif()
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    if(U_PORTABLE)
      target_link_libraries(${name} PUBLIC ${name}_portable)
    endif()
    target_link_libraries(${name} PUBLIC ${U_LIBS})
    vm_strict(${name})
    if(U_COM)
      vm_com(${name})
    endif()
  elseif(U_PORTABLE)
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${name}_portable)
  endif()
endfunction()

# Writes the floors the units declared, for scripts/check-layers.py.
function(vm_write_floors)
  get_property(floors GLOBAL PROPERTY VM_FLOORS)
  list(JOIN floors "\n" text)
  file(WRITE ${PROJECT_BINARY_DIR}/floors.txt "# floor path unit apart\n${text}\n")
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL vm_write_floors)

# A GoogleTest program. Under the windows preset CTest runs it through Wine
# (the toolchain's emulator); one program is one CTest test, because Wine
# start-up is costly.
#   vm_test(name SOURCES ... LIBS ... [LOCK resource] [ARGS ...])
function(vm_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LOCK;ARGS;DEPENDS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  vm_strict(${name})
  if(T_DEPENDS)
    add_dependencies(${name} ${T_DEPENDS})
  endif()
  add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "VM_SOURCE_DIR=${PROJECT_SOURCE_DIR};VM_BINARY_DIR=${PROJECT_BINARY_DIR}")
  if(T_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCK}")
  endif()
endfunction()

if(VM_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  enable_testing()
endif()

# A libFuzzer target over the seed corpus tests/fuzz/corpus/<name>. CTest runs
# it for a few seconds only; longer runs are done by hand.
#   vm_fuzz(name SOURCES ... LIBS ...)
set(VM_FUZZ_SECONDS 4 CACHE STRING "Seconds each fuzz target runs under CTest")
function(vm_fuzz name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  vm_strict(${name})
  set(work ${CMAKE_CURRENT_BINARY_DIR}/corpus-${name})
  file(MAKE_DIRECTORY ${work})
  add_test(NAME ${name}
    COMMAND ${name} -max_total_time=${VM_FUZZ_SECONDS} -rss_limit_mb=2048 -timeout=10
            ${work} ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
endfunction()

# Checks every "Name Ordinal" line of a list file against a built DLL, under
# Wine: each export must resolve by name and by ordinal to the same address.
function(vm_export_check dll_target list_file)
  add_test(NAME exports_${dll_target}
    COMMAND exportcheck $<TARGET_FILE:${dll_target}> ${list_file})
endfunction()
