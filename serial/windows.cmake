# Tests of the Windows driver against a pseudo-terminal peer. They run under Wine through
# scripts/wine-tests.sh (each case with a fresh peer), not through CTest.
option(BRELIN_WINE_TESTS "Build the Windows driver tests (needs GoogleTest built with MinGW)" ON)
if(NOT BRELIN_WINE_TESTS)
  return()
endif()

find_package(GTest CONFIG QUIET)
if(NOT GTest_FOUND)
  message(STATUS "No GoogleTest built with MinGW (scripts/wine-tests.sh builds one): "
                 "the Windows driver tests are left out")
  return()
endif()
add_executable(win_driver_test win_driver_test.cpp)
target_link_libraries(win_driver_test PRIVATE brelin_serial GTest::gtest GTest::gtest_main brelin_flags)
