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

# korvane_test(<name> SOURCES ... [LIBS <libraries>] [PROPERTIES <test properties>])
# One GoogleTest executable, discovered by CTest. A test of the engine links one variant among
# its LIBS.
function(korvane_test name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE korvane_options ${A_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    KORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KORVANE_BINARY_DIR="${CMAKE_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES ${A_PROPERTIES})
endfunction()
