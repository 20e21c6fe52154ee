# Tests of the signed download and the update client against nginx on
# 127.0.0.1, serving a tree made by the publishing tool (update_server.sh).
# The port is derived from the build folder, so two builds on one machine do
# not collide.
find_program(NGINX nginx PATHS /usr/sbin)
if(NOT (NGINX AND MINISIGN AND TARGET lumora_test_trusted_keys))
  message(STATUS "update server tests skipped: nginx or minisign missing")
  return()
endif()

lumora_test_port(LUMORA_TEST_UPDATE_PORT update-tests 20000)
set(server_dir ${CMAKE_BINARY_DIR}/update-server)
set(server_script ${CMAKE_CURRENT_SOURCE_DIR}/tests/update_server.sh)

add_test(NAME update_server_start
  COMMAND ${server_script} start ${server_dir} ${LUMORA_TEST_UPDATE_PORT} ${LUMORA_TEST_KEY_DIR}/trusted.key)
add_test(NAME update_server_stop COMMAND ${server_script} stop ${server_dir})
set_tests_properties(update_server_start PROPERTIES FIXTURES_SETUP update_server LABELS update TIMEOUT 120)
set_tests_properties(update_server_stop PROPERTIES FIXTURES_CLEANUP update_server LABELS update TIMEOUT 30)

lumora_update_server(lumora_test_update_server 127.0.0.1 ${LUMORA_TEST_UPDATE_PORT})

# The builds under test: without the signature freshness checks (as shipped by
# default), and with them and a floor of 1500000000 (2017-07-14).
lumora_signature_policy(lumora_test_policy_off OFF 0)
lumora_signature_policy(lumora_test_policy_on ON 1500000000)

# Package downloads as shipped by default: no resume.
lumora_download_policy(lumora_test_download_restart OFF)

set(test_libs lumora_update_core lumora_test_trusted_keys lumora_test_update_server lumora_exception_message)
set(test_defs LUMORA_TEST_UPDATE_PORT=${LUMORA_TEST_UPDATE_PORT} LUMORA_TEST_SERVER_DIR="Z:${server_dir}")

lumora_test(signed_download_tests LABEL update TIMEOUT 300
  SOURCES tests/signed_download_test.cpp tests/test_server.cpp
  LIBS ${test_libs} FIXTURES update_server)
target_compile_definitions(signed_download_tests PRIVATE ${test_defs})

add_executable(update_probe tests/update_probe.cpp)
target_link_libraries(update_probe PRIVATE ${test_libs} lumora_test_policy_off)

# Serial: it changes the channel value in the prefix's registry.
lumora_test(update_client_tests LABEL update TIMEOUT 600 SERIAL
  SOURCES tests/update_client_test.cpp tests/test_server.cpp
  LIBS ${test_libs} lumora_test_policy_off lumora_test_download_restart FIXTURES update_server)
target_compile_definitions(update_client_tests PRIVATE ${test_defs})
add_dependencies(update_client_tests update_probe)

# Serial: it changes the channel value and the record of accepted signatures.
lumora_test(signature_freshness_tests LABEL update TIMEOUT 300 SERIAL
  SOURCES tests/signature_freshness_test.cpp tests/test_server.cpp
  LIBS ${test_libs} lumora_test_policy_on FIXTURES update_server)
target_compile_definitions(signature_freshness_tests PRIVATE ${test_defs})

# Resumed downloads: the scriptable server (http/tests/servers) serves the
# signed files of the update server's tree and breaks, refuses or alters
# transfers as a case asks (tests/resume_routes.py), and nginx's own ranges
# serve the good resumes. Both ways: with resume, and without (today's
# start over), as the build option chooses.
find_package(Python3 COMPONENTS Interpreter)
lumora_test_servers(resume_servers ROOT ${server_dir}/www HANDLERS ${CMAKE_CURRENT_SOURCE_DIR}/tests/resume_routes.py)
# The scriptable server serves the update server's tree, so it starts after it.
if(TARGET resume_servers_start)
  set_tests_properties(resume_servers_start PROPERTIES FIXTURES_REQUIRED "lumora_test_ca;update_server")
endif()
lumora_test(resumed_download_tests LABEL update TIMEOUT 300
  SOURCES tests/resumed_download_test.cpp tests/test_server.cpp
  LIBS ${test_libs} FIXTURES update_server resume_servers ENVIRONMENT ${resume_servers_ENVIRONMENT})
target_compile_definitions(resumed_download_tests PRIVATE ${test_defs})
