# GoogleTest from Debian's sources, built with the cross toolchain.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

enable_testing()

# Tests run under Wine with a prefix of their own inside the build tree.
set(GD_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(GD_EMULATOR_STATE ${CMAKE_BINARY_DIR}/emulator)
set(GD_TEST_ENVIRONMENT
    "WINEPREFIX=${GD_WINEPREFIX}"
    "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml="
    # The Windows side reads the emulator's addresses from this folder (Wine's Z: is /).
    "GD_EMULATOR_STATE=Z:${GD_EMULATOR_STATE}")

# One GoogleTest executable per subsystem, registered as one CTest test.
# gd_add_test_suite(name SOURCES ... LIBS ... [FIXTURES ...])
function(gd_add_test_suite name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;FIXTURES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE gd_test_support ${ARG_LIBS} gmock gtest)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${GD_TEST_ENVIRONMENT}" TIMEOUT 600)
  if(ARG_FIXTURES)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${ARG_FIXTURES}")
  endif()
endfunction()
