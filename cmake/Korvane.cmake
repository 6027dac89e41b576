# Shared build settings and the two helpers every folder uses.

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

# The engine is compiled twice from one source list: the console pipeline's build and the
# workbench's build, which differs in a few progress lines, the netCDF library name, the SNR
# noise estimate, one extra peak filter and some functions only the workbench has.
#
#   korvane_engine_library(<name> SOURCES ... [DEPS <engine libs>] [LIBS <other libs>])
#
# creates <name> (KORVANE_WORKBENCH=0) and <name>_wb (KORVANE_WORKBENCH=1); each engine dependency
# is linked in the matching build.
function(korvane_engine_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS;LIBS" ${ARGN})
  foreach(variant IN ITEMS "" "_wb")
    set(target ${name}${variant})
    # A folder whose sources are not written yet still yields a target others can link.
    if(A_SOURCES)
      add_library(${target} STATIC ${A_SOURCES})
      set(scope PUBLIC)
    else()
      add_library(${target} INTERFACE)
      set(scope INTERFACE)
    endif()
    target_link_libraries(${target} ${scope} korvane_options ${A_LIBS})
    foreach(dep IN LISTS A_DEPS)
      target_link_libraries(${target} ${scope} ${dep}${variant})
    endforeach()
    if(variant STREQUAL "_wb")
      target_compile_definitions(${target} ${scope} KORVANE_WORKBENCH=1)
    else()
      target_compile_definitions(${target} ${scope} KORVANE_WORKBENCH=0)
    endif()
  endforeach()
endfunction()

# korvane_test(<name> SOURCES ... [DEPS <engine libs>] [LIBS <other libs>] [BOTH_BUILDS])
# One GoogleTest executable, discovered by CTest. With BOTH_BUILDS a second executable
# <name>_wb is built against the workbench's build of the engine.
function(korvane_test name)
  cmake_parse_arguments(A "BOTH_BUILDS" "" "SOURCES;DEPS;LIBS;PROPERTIES" ${ARGN})
  set(variants "")
  if(A_BOTH_BUILDS)
    set(variants "_wb")
  endif()
  foreach(variant IN ITEMS "" ${variants})
    set(target ${name}${variant})
    add_executable(${target} ${A_SOURCES})
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_link_libraries(${target} PRIVATE korvane_options ${A_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    foreach(dep IN LISTS A_DEPS)
      target_link_libraries(${target} PRIVATE ${dep}${variant})
    endforeach()
    if(NOT A_DEPS)
      if(variant STREQUAL "_wb")
        target_compile_definitions(${target} PRIVATE KORVANE_WORKBENCH=1)
      else()
        target_compile_definitions(${target} PRIVATE KORVANE_WORKBENCH=0)
      endif()
    endif()
    target_compile_definitions(${target} PRIVATE
      KORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      KORVANE_BINARY_DIR="${CMAKE_BINARY_DIR}")
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
      PROPERTIES ${A_PROPERTIES})
  endforeach()
endfunction()
