# GoogleTest: Debian's build natively; for mingw, built here from the sources
# Debian's googletest package ships.
if(WIN32)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  add_library(Varnholt::gtest ALIAS gtest)
  add_library(Varnholt::gtest_main ALIAS gtest_main)
  add_library(Varnholt::gmock ALIAS gmock)
else()
  find_package(GTest REQUIRED)
  add_library(Varnholt::gtest ALIAS GTest::gtest)
  add_library(Varnholt::gtest_main ALIAS GTest::gtest_main)
  add_library(Varnholt::gmock ALIAS GTest::gmock)
endif()

# 32-bit Windows programs cannot run on the build machines: the i686 build
# compiles its tests but does not register them.
set(VARNHOLT_TESTS_RUN ON)
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VARNHOLT_TESTS_RUN OFF)
endif()

# varnholt_add_test(NAME SOURCES a.cpp ... LIBRARIES lib ...)
# One test executable, run whole by CTest (under Wine for Windows builds).
function(varnholt_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} Varnholt::gtest_main Varnholt::gtest)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  if(VARNHOLT_TESTS_RUN)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  endif()
endfunction()
