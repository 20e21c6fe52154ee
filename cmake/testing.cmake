# lumora_test(<name> LABEL <label> SOURCES ... [LIBS ...] [TIMEOUT s] [GUI] [SERIAL]
#             [WIN64] [FIXTURES ...] [ENVIRONMENT ...])
#
# Builds one googletest executable. In the Windows build it runs under Wine in
# the 32-bit prefix that the wine_prefix fixture creates under the build
# folder, or with WIN64 in the 64-bit prefix of the wine64_prefix fixture,
# where it runs under WOW64 as the program does on most users' machines. GUI
# tests also get the Xvfb display of the xvfb fixture. In the host build it
# runs natively.
#
# lumora_test_in_win64(<name> TARGET <test executable> LABEL <label> [ARGS ...]
#                      [TIMEOUT s] [SERIAL] [FIXTURES ...] [ENVIRONMENT ...])
#
# Runs a test executable defined by lumora_test once more, in the 64-bit
# prefix, with extra arguments (a --gtest_filter picking the cases whose
# outcome depends on WOW64).
#
# Other tests (scripts) that need the 64-bit prefix require the fixture named
# by LUMORA_WINE64_FIXTURE and pass ${LUMORA_WINE64_ENVIRONMENT} in their
# ENVIRONMENT.
#
# The 64-bit program's build (preset win64, LUMORA_PROGRAM_64) runs every
# test in one 64-bit prefix without WOW64 (wine-prefix.sh win64-only) under
# the wine fixture, with Wine's 64-bit loader, so that it runs where no 32-bit
# code can. There is no 32-bit program in it to run under WOW64: the tests
# that hold only in a 32-bit process (WIN64 and lumora_test_in_win64) are
# listed there as skipped, with their reason (lumora_skipped_test).
set(LUMORA_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(LUMORA_WINEPREFIX64 ${CMAKE_BINARY_DIR}/wineprefix64)
set(LUMORA_WINE64_FIXTURE wine64)
set(LUMORA_WINE64_ENVIRONMENT "WINEPREFIX=${LUMORA_WINEPREFIX64}" "WINEARCH=win64")
set(LUMORA_SCRIPTS ${CMAKE_SOURCE_DIR}/scripts)
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(LUMORA_PROGRAM_64 ON)
  set(LUMORA_TEST_PREFIX_ARCH win64-only)
else()
  set(LUMORA_PROGRAM_64 OFF)
  set(LUMORA_TEST_PREFIX_ARCH win32)
endif()

if(WIN32 AND BUILD_TESTING)
  add_test(NAME wine_prefix COMMAND ${LUMORA_SCRIPTS}/wine-prefix.sh ${LUMORA_WINEPREFIX} ${LUMORA_TEST_PREFIX_ARCH})
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine LABELS "win;stream;progress;http;update;signature;parser;setup;crash;crashview" TIMEOUT 300)
  if(NOT LUMORA_PROGRAM_64)
    # Only the labels with tests in the 64-bit prefix make it.
    add_test(NAME wine64_prefix COMMAND ${LUMORA_SCRIPTS}/wine-prefix.sh ${LUMORA_WINEPREFIX64} win64)
    set_tests_properties(wine64_prefix PROPERTIES FIXTURES_SETUP ${LUMORA_WINE64_FIXTURE} LABELS "http;setup;crash" TIMEOUT 300)
  endif()
  add_test(NAME xvfb_start COMMAND ${LUMORA_SCRIPTS}/xvfb.sh start ${CMAKE_BINARY_DIR}/xvfb)
  add_test(NAME xvfb_stop COMMAND ${LUMORA_SCRIPTS}/xvfb.sh stop ${CMAKE_BINARY_DIR}/xvfb)
  set_tests_properties(xvfb_start PROPERTIES FIXTURES_SETUP xvfb LABELS "setup;crash" TIMEOUT 30)
  set_tests_properties(xvfb_stop PROPERTIES FIXTURES_CLEANUP xvfb LABELS "setup;crash" TIMEOUT 30)
endif()

# The fixtures and environment of a Windows test in one prefix (WIN64 or not)
# with or without a display, into <out>_fixtures and <out>_env.
macro(lumora_wine_test_settings out win64 gui)
  if(${win64})
    set(${out}_fixtures ${LUMORA_WINE64_FIXTURE})
    set(${out}_env ${LUMORA_WINE64_ENVIRONMENT})
  else()
    set(${out}_fixtures wine)
    set(${out}_env "WINEPREFIX=${LUMORA_WINEPREFIX}")
  endif()
  if(${gui})
    list(APPEND ${out}_fixtures xvfb)
    list(APPEND ${out}_env "LUMORA_XVFB_DIR=${CMAKE_BINARY_DIR}/xvfb")
  endif()
endmacro()

function(lumora_test name)
  cmake_parse_arguments(T "GUI;SERIAL;WIN64" "LABEL;TIMEOUT" "SOURCES;LIBS;FIXTURES;ENVIRONMENT" ${ARGN})
  if(NOT T_LABEL)
    message(FATAL_ERROR "lumora_test(${name}): LABEL is required")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  if(WIN32)
    if(LUMORA_PROGRAM_64 AND T_WIN64)
      lumora_skipped_test(${name} LABEL ${T_LABEL} REASON "a 32-bit process under WOW64")
      return()
    endif()
    lumora_wine_test_settings(wine T_WIN64 T_GUI)
    set(fixtures ${wine_fixtures} ${T_FIXTURES})
    set(env ${wine_env} ${T_ENVIRONMENT})
    add_test(NAME ${name} COMMAND ${LUMORA_SCRIPTS}/wine-run.sh $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${fixtures}" ENVIRONMENT "${env}")
  else()
    add_test(NAME ${name} COMMAND ${name})
    if(T_ENVIRONMENT)
      set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
    endif()
  endif()
  set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
  if(T_SERIAL)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()

function(lumora_test_in_win64 name)
  cmake_parse_arguments(T "GUI;SERIAL" "TARGET;LABEL;TIMEOUT" "ARGS;FIXTURES;ENVIRONMENT" ${ARGN})
  if(NOT (T_TARGET AND T_LABEL))
    message(FATAL_ERROR "lumora_test_in_win64(${name}): TARGET and LABEL are required")
  endif()
  if(NOT WIN32)
    return()
  endif()
  if(LUMORA_PROGRAM_64)
    lumora_skipped_test(${name} LABEL ${T_LABEL} REASON "a 32-bit process under WOW64")
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(win64 TRUE)
  lumora_wine_test_settings(wine win64 T_GUI)
  set(fixtures ${wine_fixtures} ${T_FIXTURES})
  set(env ${wine_env} ${T_ENVIRONMENT})
  add_test(NAME ${name} COMMAND ${LUMORA_SCRIPTS}/wine-run.sh $<TARGET_FILE:${T_TARGET}> ${T_ARGS})
  set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
                       FIXTURES_REQUIRED "${fixtures}" ENVIRONMENT "${env}")
  if(T_SERIAL)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()

# lumora_skipped_test(<name> LABEL <label> REASON <text>): a test that this
# build does not run, listed all the same (ctest shows it as "Not Run
# (Disabled)"), its reason in its command: "holds only in <text>".
function(lumora_skipped_test name)
  cmake_parse_arguments(T "" "LABEL;REASON" "" ${ARGN})
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "holds only in ${T_REASON}")
  set_tests_properties(${name} PROPERTIES DISABLED TRUE LABELS "${T_LABEL}")
endfunction()

# lumora_test_port(<var> <purpose> <first port>): a TCP port for the servers
# of one purpose in this build folder, in [first port, first port + 4095],
# so that two builds on one machine do not collide. Derived from the build
# folder and the purpose, so it is the same at every configure.
function(lumora_test_port var purpose first)
  string(MD5 build_hash "${purpose}:${CMAKE_BINARY_DIR}")
  string(SUBSTRING "${build_hash}" 0 3 port_hex)
  math(EXPR port "${first} + 0x${port_hex}")
  set(${var} ${port} PARENT_SCOPE)
endfunction()
