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
endif()

if(VM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

# Marks a target as the project's own code: strict warnings as errors.
function(vm_strict target)
  target_compile_options(${target} PRIVATE ${VM_WARNINGS})
endfunction()

# A library of units that need no operating-system call; builds in every preset.
function(vm_portable_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  vm_strict(${name})
endfunction()

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
