# Shared helpers for the subsystems' CMakeLists.

# tgx_add_gtest(<name> LABEL <label> SOURCES ... [LIBS ...] [TIMEOUT s])
# Builds a GoogleTest program into build/bin and registers each case with CTest,
# labelled with its folder. The test main gives every case private runtime,
# registry and device directories (see platform/testsupport).
function(tgx_add_gtest name)
  if(NOT TGX_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS;DEPENDS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} tgx_testmain GTest::gtest GTest::gmock)
  if(T_DEPENDS)
    add_dependencies(${name} ${T_DEPENDS})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT}
               ENVIRONMENT "TGX_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
endfunction()

# tgx_fuzz_instrument(<library>)
# With TGX_FUZZ, instruments a library that fuzz targets drive; whatever links it
# (the fuzzers, and the programs built from it) links the sanitizer runtimes too.
function(tgx_fuzz_instrument target)
  if(TGX_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
endfunction()

# tgx_add_fuzzer(<name> LABEL <label> SOURCES ... [LIBS ...])
# A libFuzzer target: <name>.cpp defines LLVMFuzzerTestOneInput. With TGX_FUZZ (clang)
# it builds as a fuzzer; in every build it also builds as a GoogleTest program that
# replays the kept corpus fuzz/corpus/<name>/, so crash-free inputs stay tests.
function(tgx_add_fuzzer name)
  cmake_parse_arguments(F "" "LABEL" "SOURCES;LIBS" ${ARGN})
  set(corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
  if(TGX_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE ${F_LIBS})
  endif()
  if(TGX_TESTS)
    add_executable(${name}_replay ${F_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    target_compile_definitions(${name}_replay PRIVATE TGX_CORPUS_DIR="${corpus}")
    target_link_libraries(${name}_replay PRIVATE ${F_LIBS} tgx_testmain GTest::gtest)
    gtest_discover_tests(${name}_replay
      TEST_PREFIX "${name}."
      DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS "${F_LABEL}" TIMEOUT 300)
  endif()
endfunction()
