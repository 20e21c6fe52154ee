# Test servers for Windows tests that talk to real servers on 127.0.0.1.
#
#   lumora_test_servers(<fixture> [ROOT <dir>] [HANDLERS <file.py>])
#
# Adds the ctest fixture <fixture>: a setup test that starts nginx (plain and
# TLS) and the scriptable server of lumora_servers.py, and a cleanup test that
# stops them and fails when a port still accepts connections. ROOT is served
# by nginx under /files/; HANDLERS adds routes to the scriptable server (see
# lumora_servers.py). Sets <fixture>_ENVIRONMENT in the caller's scope to the
# entry to pass as ENVIRONMENT to lumora_test, which tells the test where the
# port file is; http/tests/servers/test_servers.hpp reads it. The TLS
# endpoints chain to a test CA made under the build folder and trusted only
# inside the test Wine prefix (fixture lumora_test_ca, pulled in
# automatically). Use:
#
#   lumora_test_servers(update_servers ROOT ${CMAKE_CURRENT_BINARY_DIR}/published)
#   lumora_test(update_tests LABEL update SOURCES ... FIXTURES update_servers
#               ENVIRONMENT ${update_servers_ENVIRONMENT})
# Cached, so that folders after http/ can call lumora_test_servers too.
set(LUMORA_SERVERS_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/lumora_servers.py CACHE INTERNAL "")
set(LUMORA_TEST_CA_DIR ${CMAKE_BINARY_DIR}/test-ca CACHE INTERNAL "")
find_package(Python3 COMPONENTS Interpreter)

if(WIN32 AND BUILD_TESTING AND Python3_Interpreter_FOUND)
  add_executable(trust_ca ${CMAKE_CURRENT_LIST_DIR}/trust_ca.cpp)
  target_link_libraries(trust_ca PRIVATE crypt32)
  target_link_options(trust_ca PRIVATE -municode)

  add_test(NAME lumora_test_ca_make COMMAND ${Python3_EXECUTABLE} ${LUMORA_SERVERS_SCRIPT} ca ${LUMORA_TEST_CA_DIR})
  set_tests_properties(lumora_test_ca_make PROPERTIES FIXTURES_SETUP lumora_test_ca_files TIMEOUT 120)
  # Wine accepts Unix paths behind its Z: drive.
  add_test(NAME lumora_test_ca_trust
    COMMAND ${LUMORA_SCRIPTS}/wine-run.sh $<TARGET_FILE:trust_ca> Z:${LUMORA_TEST_CA_DIR}/ca.pem)
  set_tests_properties(lumora_test_ca_trust PROPERTIES
    FIXTURES_SETUP lumora_test_ca FIXTURES_REQUIRED "wine;lumora_test_ca_files"
    ENVIRONMENT "WINEPREFIX=${LUMORA_WINEPREFIX}" TIMEOUT 120)
  # The same CA in the 64-bit prefix (fixture lumora_test_ca64), trusted by
  # the 32-bit trust_ca as the 32-bit programs there will look it up. (The
  # 64-bit program's build has its one 64-bit prefix only.)
  if(NOT LUMORA_PROGRAM_64)
    add_test(NAME lumora_test_ca_trust_win64
      COMMAND ${LUMORA_SCRIPTS}/wine-run.sh $<TARGET_FILE:trust_ca> Z:${LUMORA_TEST_CA_DIR}/ca.pem)
    set_tests_properties(lumora_test_ca_trust_win64 PROPERTIES
      FIXTURES_SETUP lumora_test_ca64 FIXTURES_REQUIRED "${LUMORA_WINE64_FIXTURE};lumora_test_ca_files"
      ENVIRONMENT "${LUMORA_WINE64_ENVIRONMENT}" TIMEOUT 120)
  endif()
endif()

function(lumora_test_servers fixture)
  cmake_parse_arguments(S "" "ROOT;HANDLERS" "" ${ARGN})
  set(state ${CMAKE_CURRENT_BINARY_DIR}/${fixture})
  set(${fixture}_ENVIRONMENT "LUMORA_SERVERS_ENV=Z:${state}/servers.env" PARENT_SCOPE)
  if(NOT (WIN32 AND BUILD_TESTING AND Python3_Interpreter_FOUND))
    return()
  endif()
  set(options)
  if(S_ROOT)
    list(APPEND options --root ${S_ROOT})
  endif()
  if(S_HANDLERS)
    list(APPEND options --handlers ${S_HANDLERS})
  endif()
  add_test(NAME ${fixture}_start
    COMMAND ${Python3_EXECUTABLE} ${LUMORA_SERVERS_SCRIPT} start ${state} --ca ${LUMORA_TEST_CA_DIR} ${options})
  add_test(NAME ${fixture}_stop COMMAND ${Python3_EXECUTABLE} ${LUMORA_SERVERS_SCRIPT} stop ${state})
  set_tests_properties(${fixture}_start PROPERTIES
    FIXTURES_SETUP ${fixture} FIXTURES_REQUIRED lumora_test_ca TIMEOUT 60)
  set_tests_properties(${fixture}_stop PROPERTIES FIXTURES_CLEANUP ${fixture} TIMEOUT 60)
endfunction()
