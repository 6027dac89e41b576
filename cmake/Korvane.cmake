# Shared build settings and the helpers every folder uses.

add_library(korvane_options INTERFACE)
target_compile_features(korvane_options INTERFACE cxx_std_20)
# Contraction into FMA would change the last bit of results the tests compare exactly.
target_compile_options(korvane_options INTERFACE -Wall -Wextra -ffp-contract=off)
target_include_directories(korvane_options INTERFACE ${PROJECT_SOURCE_DIR})
if(KORVANE_SANITIZE)
  target_compile_options(korvane_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -D_GLIBCXX_ASSERTIONS)
  target_link_options(korvane_options INTERFACE -fsanitize=address,undefined)
endif()

# korvane_library(<name> SOURCES ... [LIBS <libraries>])
# A static library korvane_<name>, also known as korvane::<name>. The engine is compiled once for
# both programs; what differs between them is linked by each program (korvane::console_variant or
# korvane::workbench_variant, see engine/records/variant.h).
function(korvane_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(korvane_${name} STATIC ${A_SOURCES})
  target_link_libraries(korvane_${name} PUBLIC korvane_options ${A_LIBS})
  add_library(korvane::${name} ALIAS korvane_${name})
endfunction()

# korvane_test(<name> SOURCES <files>... [LIBS <libraries>...] [OWN_MAIN]
#              [ONE_ENTRY [SEPARATE <entry> <gtest filter>] | MPI_PROCESSES <count>...]
#              [TIMEOUT <seconds>] [RESOURCE_LOCK <lock>] [ENVIRONMENT <VAR=value>...]
#              [DEFINITIONS <NAME=value>...] [LINK_OPTIONS <options>...] [DEPENDS <targets>...]
#              [PROPERTIES <test property> <value>...])
# korvane_test(<name> COMMAND <program> <arguments>... [TIMEOUT ...] [RESOURCE_LOCK ...]
#              [ENVIRONMENT ...] [PROPERTIES ...])
# One GoogleTest program in build/tests. A test of the engine links one variant among its LIBS.
# OWN_MAIN: the sources define main (GoogleTest's is not linked).
# How CTest runs it:
#   by default, one entry per test, discovered before each run; a GTEST_SKIP shows as skipped;
#   ONE_ENTRY: one entry <name> for the whole program, for tests that share an expensive set-up;
#     SEPARATE takes the tests the filter matches out of it into their own entry <entry>, where
#     a skip shows as skipped rather than passing inside the larger entry;
#   MPI_PROCESSES: one entry <name without _test>_np<count> per count, the program run under
#     mpiexec with that many processes (--oversubscribe: the counts need not fit the machine).
# COMMAND: no program is built; one entry <name> runs the command (a program target named first
# runs from its built file), for a check that is not a GoogleTest program: a tool run end to end,
# or a build expected to fail. Its PROPERTIES say what passes (PASS_REGULAR_EXPRESSION, WILL_FAIL).
# TIMEOUT, RESOURCE_LOCK, ENVIRONMENT and PROPERTIES apply to every entry of the program.
function(korvane_test name)
  cmake_parse_arguments(A "OWN_MAIN;ONE_ENTRY" "TIMEOUT;RESOURCE_LOCK"
    "SOURCES;LIBS;SEPARATE;MPI_PROCESSES;ENVIRONMENT;DEFINITIONS;LINK_OPTIONS;DEPENDS;PROPERTIES;COMMAND" ${ARGN})
  if(A_COMMAND AND (A_SOURCES OR A_LIBS OR A_OWN_MAIN OR A_ONE_ENTRY OR A_SEPARATE OR A_MPI_PROCESSES
                    OR A_DEFINITIONS OR A_LINK_OPTIONS OR A_DEPENDS))
    message(FATAL_ERROR "korvane_test(${name}): COMMAND builds no program, so it takes no program options")
  endif()
  if(NOT A_COMMAND)
    add_executable(${name} ${A_SOURCES})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    set(gtest_libs GTest::gtest GTest::gmock)
    if(NOT A_OWN_MAIN)
      list(APPEND gtest_libs GTest::gtest_main)
    endif()
    target_link_libraries(${name} PRIVATE korvane_options ${A_LIBS} ${gtest_libs})
    target_compile_definitions(${name} PRIVATE
      KORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      KORVANE_BINARY_DIR="${CMAKE_BINARY_DIR}"
      ${A_DEFINITIONS})
    if(A_LINK_OPTIONS)
      target_link_options(${name} PRIVATE ${A_LINK_OPTIONS})
    endif()
    if(A_DEPENDS)
      add_dependencies(${name} ${A_DEPENDS})
    endif()
  endif()

  set(properties ${A_PROPERTIES})
  foreach(property IN ITEMS TIMEOUT RESOURCE_LOCK)
    if(A_${property})
      list(APPEND properties ${property} ${A_${property}})
    endif()
  endforeach()

  if(A_COMMAND)
    add_test(NAME ${name} COMMAND ${A_COMMAND})
    set(entries ${name})
  elseif(A_MPI_PROCESSES)
    string(REGEX REPLACE "_test$" "" stem ${name})
    set(entries)
    foreach(count IN LISTS A_MPI_PROCESSES)
      add_test(NAME ${stem}_np${count}
        COMMAND ${MPIEXEC_EXECUTABLE} ${MPIEXEC_NUMPROC_FLAG} ${count} --oversubscribe $<TARGET_FILE:${name}>)
      list(APPEND entries ${stem}_np${count})
    endforeach()
  elseif(A_ONE_ENTRY)
    set(entries ${name})
    if(A_SEPARATE)
      list(GET A_SEPARATE 0 separate_entry)
      list(GET A_SEPARATE 1 separate_filter)
      add_test(NAME ${name} COMMAND ${name} --gtest_filter=-${separate_filter})
      add_test(NAME ${separate_entry} COMMAND ${name} --gtest_filter=${separate_filter})
      set_tests_properties(${separate_entry} PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
      list(APPEND entries ${separate_entry})
    else()
      add_test(NAME ${name} COMMAND ${name})
    endif()
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
    korvane_discovered_test_properties(${name} "${properties}" "${A_ENVIRONMENT}")
    return()
  endif()
  if(properties)
    set_tests_properties(${entries} PROPERTIES ${properties})
  endif()
  if(A_ENVIRONMENT)
    set_tests_properties(${entries} PROPERTIES ENVIRONMENT "${A_ENVIRONMENT}")
  endif()
endfunction()

# The discovered tests of <target> exist only when CTest runs, so their properties are set by a
# script CTest reads after the discovery's own. (Discovery's PROPERTIES option flattens a list
# value such as ENVIRONMENT into the property names that follow it.)
function(korvane_discovered_test_properties target properties environment)
  if(NOT properties AND NOT environment)
    return()
  endif()
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_properties.cmake")
  set(arguments)
  foreach(item IN LISTS properties)
    string(APPEND arguments " [==[${item}]==]")
  endforeach()
  if(environment)
    string(APPEND arguments " ENVIRONMENT [==[${environment}]==]")
  endif()
  file(WRITE ${script} "if(${target}_TESTS)\n  set_tests_properties(\${${target}_TESTS} PROPERTIES${arguments})\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()
