# Shared build helpers: the warning set every target compiles with, and one
# test program per library.
add_library(hx_warnings INTERFACE)
target_compile_options(hx_warnings INTERFACE -Wall -Wextra -Werror)

# hx_library(NAME SOURCES... [DEPS targets...]): static library hx_NAME with
# src/ as its include root.
function(hx_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(hx_${name} STATIC ${ARG_SOURCES})
  target_include_directories(hx_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(hx_${name} PUBLIC ${ARG_DEPS} PRIVATE hx_warnings)
endfunction()

# hx_add_tests(NAME SOURCES... [DEPS targets...]): test program NAME_tests
# linked against hx_NAME (when it exists) plus DEPS, registered with CTest.
function(hx_add_tests name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT HX_BUILD_TESTS)
    return()
  endif()
  add_executable(${name}_tests ${ARG_SOURCES})
  set(libs ${ARG_DEPS} hx_testkit)
  if(TARGET hx_${name})
    list(APPEND libs hx_${name})
  endif()
  target_link_libraries(${name}_tests PRIVATE ${libs} GTest::gtest GTest::gmock GTest::gtest_main hx_warnings)
  set_target_properties(${name}_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name}_tests)
endfunction()

# hx_add_bench(NAME SOURCES... DEPS targets...): a Google Benchmark program.
function(hx_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT HX_BUILD_BENCH)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark hx_warnings)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()

# hx_add_fuzzer(NAME SOURCES... DEPS targets...): a libFuzzer target (clang
# only, HX_FUZZ=ON), plus a replay program that runs the kept corpus through
# the same entry point in the regular test suite.
function(hx_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;CORPUS" ${ARGN})
  if(HX_FUZZ)
    add_executable(${name}_fuzzer ${ARG_SOURCES})
    target_compile_options(${name}_fuzzer PRIVATE -fsanitize=fuzzer)
    target_link_options(${name}_fuzzer PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name}_fuzzer PRIVATE ${ARG_DEPS} hx_warnings)
    set_target_properties(${name}_fuzzer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  endif()
  if(HX_BUILD_TESTS)
    add_executable(${name}_replay ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    target_link_libraries(${name}_replay PRIVATE ${ARG_DEPS} hx_warnings)
    set_target_properties(${name}_replay PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME ${name}_corpus COMMAND ${name}_replay ${ARG_CORPUS})
  endif()
endfunction()

# hx_folder(NAME [DEPS targets...] [TEST_DEPS targets...]): the usual folder:
# library hx_NAME from every *.cpp of the folder except *_test.cpp, and the
# test program NAME_tests from every *_test.cpp. Files are found by glob so
# that adding a source needs no edit here.
function(hx_folder name)
  cmake_parse_arguments(ARG "" "" "DEPS;TEST_DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(tests)
    list(REMOVE_ITEM sources ${tests})
  endif()
  if(sources)
    hx_library(${name} SOURCES ${sources} DEPS ${ARG_DEPS})
  else()
    # Header-only (or not yet written): an interface target with the same name.
    add_library(hx_${name} INTERFACE)
    target_include_directories(hx_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(hx_${name} INTERFACE ${ARG_DEPS})
  endif()
  if(tests)
    hx_add_tests(${name} SOURCES ${tests} DEPS ${ARG_TEST_DEPS})
  endif()
endfunction()
