# GoogleTest: the system package natively, built from /usr/src/googletest for the cross-build.
if(WIN32)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest's own sources use <chrono>, whose "\u00b5s" has no GBK form.
  target_compile_options(gtest PRIVATE -fexec-charset=UTF-8)
  target_compile_options(gtest_main PRIVATE -fexec-charset=UTF-8)
  set(GBSETUP_GTEST_LIBS gtest gtest_main)
else()
  find_package(GTest REQUIRED)
  set(GBSETUP_GTEST_LIBS GTest::gtest GTest::gtest_main)
endif()

# One ctest entry per suite executable: under Wine one start per suite is far cheaper
# than one per test case. The suite prints its own counts.
function(gbsetup_add_suite name)
  cmake_parse_arguments(S "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${S_SOURCES})
  target_link_libraries(${name} PRIVATE ${S_LIBS} ${GBSETUP_GTEST_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE GBSETUP_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if(WIN32)
    set_target_properties(${name} PROPERTIES SUFFIX ".exe")
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
