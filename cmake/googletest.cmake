# GoogleTest built from Debian's sources (the googletest package), for builds
# that cannot link the system's libraries: Windows, and 32-bit x86 Linux.
# Defines the targets GTest::gtest, GTest::gtest_main and GTest::gmock.
set(PQ640_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build")
if(NOT EXISTS ${PQ640_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources at ${PQ640_GOOGLETEST_SOURCE}: install googletest")
endif()
# GoogleTest is not ours to hold to warnings-as-errors.
get_directory_property(pq640_warnings COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${PQ640_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${pq640_warnings}")
