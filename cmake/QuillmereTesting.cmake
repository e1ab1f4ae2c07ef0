# Declaring a GoogleTest executable and its CTest tests, the same way for every part of the tree.

# Seconds any one test may run before CTest fails it, so a test that hangs (a walk that no longer
# ends, a child that never exits) fails instead of blocking the run.
set(QUILLMERE_TEST_TIMEOUT 60)

# quillmere_add_test_executable(<name>
#     SOURCES <file>...
#     [LIBRARIES <target>...]      linked privately, besides GoogleTest, GoogleMock and warnings
#     [INCLUDES <dir>...]          private include directories (a library's own src/)
#     [DEFINITIONS <name=value>...] private compile definitions
#     [DEPENDS <target>...])       targets built first (programs the tests run)
#
# Builds <name> from SOURCES with gtest_main and discovers its tests, each with the timeout above.
function(quillmere_add_test_executable name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBRARIES;INCLUDES;DEFINITIONS;DEPENDS")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "quillmere_add_test_executable(${name}): unknown arguments "
            "${arg_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT arg_SOURCES)
        message(FATAL_ERROR "quillmere_add_test_executable(${name}): SOURCES is required")
    endif()

    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE
        ${arg_LIBRARIES} quillmere::warnings GTest::gtest_main GTest::gmock)
    if(arg_INCLUDES)
        target_include_directories(${name} PRIVATE ${arg_INCLUDES})
    endif()
    if(arg_DEFINITIONS)
        target_compile_definitions(${name} PRIVATE ${arg_DEFINITIONS})
    endif()
    if(arg_DEPENDS)
        add_dependencies(${name} ${arg_DEPENDS})
    endif()
    # Every test source includes GoogleTest, whose headers take about two seconds to parse:
    # precompiled once per executable (with a few standard headers nearly every test uses), they
    # took a fifth off the compiler's time for the tool's tests.
    target_precompile_headers(${name} PRIVATE <gtest/gtest.h> <filesystem> <string> <vector>)
    # NO_PRETTY_VALUES: a parameterised test is named by its name generator alone, without the
    # printed parameter ("  # GetParam() = ...") that CTest would otherwise append to its name.
    gtest_discover_tests(${name} NO_PRETTY_VALUES PROPERTIES TIMEOUT ${QUILLMERE_TEST_TIMEOUT})
endfunction()
