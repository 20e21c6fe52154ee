# Tests of the crash reporter (label crash).
lumora_test(crashreport_reply_tests LABEL crash
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/reply_test.cpp LIBS lumora_crashreport_reply)
lumora_test(stored_reports_unit_tests LABEL crash
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/stored_reports_test.cpp LIBS lumora_stored_reports lumora_zlib)

if(WIN32)
  enable_language(RC)
  # The host is shipped like the program: stripped, with the unstripped
  # build kept beside it (crash_host.full.exe) for the report reader.
  add_executable(crash_host WIN32 ${CMAKE_CURRENT_LIST_DIR}/crash_host.cpp ${CMAKE_CURRENT_LIST_DIR}/crash_host.rc)
  target_link_libraries(crash_host PRIVATE lumora_crashreport)
  target_link_options(crash_host PRIVATE -municode)
  add_custom_command(TARGET crash_host POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:crash_host> ${CMAKE_CURRENT_BINARY_DIR}/crash_host.full.exe
    COMMAND ${CMAKE_OBJCOPY} --strip-all $<TARGET_FILE:crash_host>
    COMMENT "Keeping the unstripped crash_host beside the stripped one")

  # The same host without the reporter's texts.
  add_executable(crash_host_bare WIN32 ${CMAKE_CURRENT_LIST_DIR}/crash_host.cpp)
  target_link_libraries(crash_host_bare PRIVATE lumora_crashreport)
  target_link_options(crash_host_bare PRIVATE -municode)

  add_executable(crash_driver ${CMAKE_CURRENT_LIST_DIR}/crash_driver.cpp)
  target_link_options(crash_driver PRIVATE -municode)
endif()

# Real crashes under Wine, checked from outside by crash_tests.py with the
# report server, the Windows parent crash_driver.exe and the report reader.
find_package(Python3 COMPONENTS Interpreter)
if(WIN32 AND Python3_Interpreter_FOUND)
  set(crash_environment "LUMORA_XVFB_DIR=${CMAKE_BINARY_DIR}/xvfb;CRASH_WINE_RUN=${LUMORA_SCRIPTS}/wine-run.sh;CRASH_HOST=$<TARGET_FILE:crash_host>;CRASH_HOST_FULL=${CMAKE_CURRENT_BINARY_DIR}/crash_host.full.exe;CRASH_HOST_BARE=$<TARGET_FILE:crash_host_bare>;CRASH_DRIVER=$<TARGET_FILE:crash_driver>;CRASH_READER=${CMAKE_BINARY_DIR}/tools/report-reader/native/report-reader;CRASH_CA_DIR=${CMAKE_BINARY_DIR}/test-ca;CRASH_SERVER_DIR=${CMAKE_SOURCE_DIR}/tools/report-server")
  add_test(NAME crash_tests
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/crash_tests.py)
  set_tests_properties(crash_tests PROPERTIES
    LABELS crash TIMEOUT 1500 RUN_SERIAL TRUE
    FIXTURES_REQUIRED "wine;xvfb;lumora_test_ca"
    ENVIRONMENT "WINEPREFIX=${LUMORA_WINEPREFIX};${crash_environment};CRASH_WORK=${CMAKE_CURRENT_BINARY_DIR}/crash-work")
  # The crash case of the 32-bit smoke in the emulated machine
  # (scripts/vm32/smoke.sh): a crash on the worker, uploaded, and the 449 reply
  # answered by the .bxr. Label smoke: the presets leave it out, as
  # crash_tests runs the same case.
  add_test(NAME crash_smoke
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/crash_tests.py CrashTest.test_449_then_200_sends_both_reports)
  set_tests_properties(crash_smoke PROPERTIES
    LABELS "crash;smoke" TIMEOUT 300 RUN_SERIAL TRUE
    FIXTURES_REQUIRED "wine;xvfb;lumora_test_ca"
    ENVIRONMENT "WINEPREFIX=${LUMORA_WINEPREFIX};${crash_environment};CRASH_WORK=${CMAKE_CURRENT_BINARY_DIR}/crash-smoke-work")
  # Stored reports against real servers (stored_report_tests.py): kept until
  # the server answers, within their bounds, without holding up the start or
  # the exit.
  add_test(NAME stored_report_tests
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/stored_report_tests.py)
  set_tests_properties(stored_report_tests PROPERTIES
    LABELS crash TIMEOUT 1500 RUN_SERIAL TRUE
    FIXTURES_REQUIRED "wine;xvfb;lumora_test_ca"
    ENVIRONMENT "WINEPREFIX=${LUMORA_WINEPREFIX};${crash_environment};CRASH_WORK=${CMAKE_CURRENT_BINARY_DIR}/stored-work;STORED_SCRIPT_SERVER_DIR=${CMAKE_SOURCE_DIR}/http/tests/servers")
  # The same reporter under WOW64, in the 64-bit prefix: what differs there.
  if(LUMORA_PROGRAM_64)
    lumora_skipped_test(crash_wow64_tests LABEL crash REASON "a 32-bit process under WOW64")
    return()
  endif()
  add_test(NAME crash_wow64_tests
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/wow64_crash_tests.py)
  set_tests_properties(crash_wow64_tests PROPERTIES
    LABELS crash TIMEOUT 600 RUN_SERIAL TRUE
    FIXTURES_REQUIRED "${LUMORA_WINE64_FIXTURE};xvfb;lumora_test_ca64"
    ENVIRONMENT "${LUMORA_WINE64_ENVIRONMENT};${crash_environment};CRASH_WORK=${CMAKE_CURRENT_BINARY_DIR}/crash-work-x64")
endif()
