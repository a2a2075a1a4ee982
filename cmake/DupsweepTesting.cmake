find_package(GTest REQUIRED)
include(GoogleTest)

# dupsweep_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2)
# One test executable per area; every GoogleTest case becomes a ctest entry.
function(dupsweep_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  # Every test program journals its deletions into the build tree, never into the home of whoever
  # runs the tests (support/test_journal_location.cpp). An environment variable given through
  # gtest_discover_tests' ENVIRONMENT would not do: CMake 3.25 splits its list and sets only the
  # first variable.
  add_executable(${name} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/test_journal_location.cpp)
  target_link_libraries(${name} PRIVATE ${T_LIBS} SQLite::SQLite3 GTest::gtest GTest::gtest_main GTest::gmock)
  # tests/support holds header-only helpers shared by the test folders (support/sqlite_file.h).
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src
                                             ${PROJECT_SOURCE_DIR}/tools)
  target_compile_definitions(${name} PRIVATE
    DUPSWEEP_SOURCE_DIR="${PROJECT_SOURCE_DIR}" DUPSWEEP_BINARY_DIR="${PROJECT_BINARY_DIR}"
    DUPSWEEP_TEST_PROGRAM="${name}")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;DUPSWEEP_REGISTRY=${PROJECT_BINARY_DIR}/test-registry.reg")
endfunction()
