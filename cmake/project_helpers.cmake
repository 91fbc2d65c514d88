# vaslab_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <seconds>])
# One GoogleTest executable; each TEST() becomes a CTest test, with its own
# time-out when given (else ctest's --timeout).  Headless by
# default (testsupport/test_env.cpp): SDL uses its dummy video driver unless a
# test starts Xvfb itself.
function(vaslab_test name)
  if(NOT VASLAB_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/testsupport/test_env.cpp)
  target_compile_definitions(${name} PRIVATE
    VASLAB_BUILD_DIR="${CMAKE_BINARY_DIR}" VASLAB_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  target_link_libraries(${name} PRIVATE testsupport ${T_LIBS} GTest::gtest GTest::gtest_main)
  set(props)
  if(T_TIMEOUT)
    set(props PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${name}." ${props})
endfunction()

# vaslab_component(<name> [LIBS <targets...>] [TEST_LIBS <targets...>] [TEST_TIMEOUT <seconds>])
# A static library of every .cpp in the current folder, and one test program
# <name>_tests of every .cpp in its tests/ folder.  Dropping a file in is
# enough; no list needs editing.
function(vaslab_component name)
  cmake_parse_arguments(C "" "TEST_TIMEOUT" "LIBS;TEST_LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${srcs})
  target_link_libraries(${name} PUBLIC ${C_LIBS})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  if(tests)
    if(C_TEST_LIBS)
      vaslab_test(${name}_tests SOURCES ${tests} LIBS ${C_TEST_LIBS} TIMEOUT ${C_TEST_TIMEOUT})
    else()
      vaslab_test(${name}_tests SOURCES ${tests} LIBS ${name} TIMEOUT ${C_TEST_TIMEOUT})
    endif()
  endif()
endfunction()
