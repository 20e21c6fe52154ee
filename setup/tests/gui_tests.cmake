# The end-to-end tests of LumoraSetup.exe: a Windows test driver works the
# program's windows under Wine and Xvfb while a host script (e2e.py) serves
# the update tree with nginx on 127.0.0.1 and checks what the program did.
# They run a test build of the program: the test key of the signature tests
# and the update server 127.0.0.1 on a port of this build.

# The driver: finds the dialog and message boxes, reads them, presses buttons.
add_executable(setup_gui_driver tests/gui_driver.cpp)
target_link_options(setup_gui_driver PRIVATE -municode)
target_link_libraries(setup_gui_driver PRIVATE comctl32 advapi32)

# The stand-in for msiexec.exe that records its command line.
add_executable(msiexec_recorder WIN32 tests/msiexec_recorder.cpp)
target_link_options(msiexec_recorder PRIVATE -municode)

add_test(NAME setup_program_is_gui_pe
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-pe.sh gui $<TARGET_FILE:LumoraSetup> ${CMAKE_SYSTEM_PROCESSOR})
set_tests_properties(setup_program_is_gui_pe PROPERTIES LABELS "setup;pe" TIMEOUT 30)

# The resources as Windows reads them from the built program.
lumora_test(setup_resources_tests LABEL setup SOURCES tests/resources_test.cpp)
target_compile_definitions(setup_resources_tests PRIVATE LUMORA_SETUP_PROGRAM=L"Z:$<TARGET_FILE:LumoraSetup>")
add_dependencies(setup_resources_tests LumoraSetup)

# The test programs need the test key pair (signature/) and the update
# server library maker (update/), both added before this folder.
function(lumora_setup_gui_tests)
  if(NOT TARGET lumora_test_trusted_keys)
    return()  # no minisign: no test key pair
  endif()
  # The test build's update server: 127.0.0.1 on a port of this build folder,
  # so that a web server already on port 80 does not collide. The shipped
  # program and the demo use port 80.
  lumora_test_port(port setup-e2e 24200)
  # Transfers that stall end after 5 s rather than a minute, so that the
  # hostile server cases stay quick.
  lumora_update_server(lumora_setup_test_server 127.0.0.1 ${port} 5000)
  # As shipped by default, and a build with the signature freshness checks
  # and a floor of 1500000000 (2017-07-14); only linking differs.
  lumora_signature_policy(lumora_setup_test_policy_off OFF 0)
  lumora_signature_policy(lumora_setup_test_policy_on ON 1500000000)
  # Package downloads that start over (as shipped by default) or resume.
  lumora_download_policy(lumora_setup_test_restart OFF)
  lumora_download_policy(lumora_setup_test_resume ON)
  lumora_setup_program(LumoraSetupTest language_table.cpp
    DEPLOYMENT lumora_test_trusted_keys lumora_setup_test_server lumora_setup_test_policy_off
               lumora_setup_test_restart)
  lumora_setup_program(LumoraSetupTwoLanguages tests/language_table_two.cpp
    DEPLOYMENT lumora_test_trusted_keys lumora_setup_test_server lumora_setup_test_policy_off
               lumora_setup_test_restart)
  lumora_setup_program(LumoraSetupFresh language_table.cpp
    DEPLOYMENT lumora_test_trusted_keys lumora_setup_test_server lumora_setup_test_policy_on
               lumora_setup_test_restart)
  # Resuming, with the signature freshness checks as a release build has them.
  lumora_setup_program(LumoraSetupResume language_table.cpp
    DEPLOYMENT lumora_test_trusted_keys lumora_setup_test_server lumora_setup_test_policy_on
               lumora_setup_test_resume)

  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  # A prefix of their own: the cases swap the prefix's msiexec.exe for the
  # recording stand-in and install the demo product into it.
  set(prefix ${CMAKE_BINARY_DIR}/setup-e2e/wineprefix)
  add_test(NAME setup_e2e_prefix COMMAND ${LUMORA_SCRIPTS}/wine-prefix.sh ${prefix} ${LUMORA_TEST_PREFIX_ARCH})
  set_tests_properties(setup_e2e_prefix PROPERTIES FIXTURES_SETUP setup_e2e_wine LABELS setup TIMEOUT 300)
  set(cases happy_path second_run_reuses_package wine_msiexec_installs_demo
            cancel_during_package cancel_during_descriptor close_window_during_package
            resume_cancelled_run_fetches_only_the_rest restart_cancelled_run_fetches_the_whole_package
            language_page_choice language_page_cancel
            worker_thread_cannot_start no_display
            failure_no_server failure_descriptor_signature_404 failure_tampered_descriptor
            failure_descriptor_without_url failure_unsupported_scheme failure_tampered_package
            failure_installer_not_startable failure_package_file_blocked failure_descriptor_url_with_nul
            fresh_replayed_descriptor fresh_signed_before_floor fresh_swapped_package_signature
            fresh_other_channel_descriptor fresh_package_not_matching_descriptor fresh_altered_trusted_comment
            fresh_custom_comments)
  # What every case needs, in either prefix.
  set(e2e_environment "E2E_PORT=${port};LUMORA_XVFB_DIR=${CMAKE_BINARY_DIR}/xvfb;E2E_PROGRAM=$<TARGET_FILE:LumoraSetupTest>;E2E_PROGRAM_TWO=$<TARGET_FILE:LumoraSetupTwoLanguages>;E2E_PROGRAM_FRESH=$<TARGET_FILE:LumoraSetupFresh>;E2E_PROGRAM_RESUME=$<TARGET_FILE:LumoraSetupResume>;E2E_DRIVER=$<TARGET_FILE:setup_gui_driver>;E2E_RECORDER=$<TARGET_FILE:msiexec_recorder>;E2E_SECRET_KEY=${LUMORA_TEST_KEY_DIR}/trusted.key;E2E_DEMO=${PROJECT_SOURCE_DIR}/setup/demo;E2E_WINE_RUN=${LUMORA_SCRIPTS}/wine-run.sh")
  # The 64-bit program asks for the x64 package.
  if(LUMORA_PROGRAM_64)
    string(APPEND e2e_environment ";E2E_ARCHITECTURE=.x64")
  endif()
  lumora_setup_e2e_tests(setup_e2e_ e2e.py setup_e2e_wine "${e2e_environment};WINEPREFIX=${prefix}"
    ${CMAKE_BINARY_DIR}/setup-e2e ${cases})
  # A hostile update server (hostile_test.py): each case names what it does.
  lumora_setup_e2e_tests(setup_e2e_hostile_ hostile_test.py setup_e2e_wine "${e2e_environment};WINEPREFIX=${prefix}"
    ${CMAKE_BINARY_DIR}/setup-e2e
    cancel_package_byte_every_4s cancel_package_512_bytes_per_second cancel_package_endless_body
    cancel_descriptor_byte_every_4s cancel_descriptor_signature_before_head stall_before_head
    package_cut_short package_huge_length_then_stall descriptor_huge_length_cut_short signature_cut_short
    resume_package_reset_once restart_package_reset_once)
  lumora_setup_wow64_e2e_tests("${e2e_environment}" setup_e2e_wine "${e2e_environment};WINEPREFIX=${prefix}")
endfunction()

# lumora_setup_e2e_tests(<name prefix> <script> <prefix fixture> <environment> <work folder> <case>...):
# each case of the script (e2e.py or wow64_e2e.py) as the test <name prefix><case>,
# in the Wine prefix that the fixture makes, its files in <work folder>/<case>.
function(lumora_setup_e2e_tests name_prefix script fixture environment work)
  foreach(case IN LISTS ARGN)
    add_test(NAME ${name_prefix}${case} COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/setup/tests/${script} ${case})
    set_tests_properties(${name_prefix}${case} PROPERTIES
      LABELS setup TIMEOUT 300
      FIXTURES_REQUIRED "${fixture};xvfb"
      # The cases of both prefixes share the server port; those of one
      # prefix its package folders.
      RESOURCE_LOCK lumora_setup_e2e
      ENVIRONMENT "${environment};E2E_WORK=${work}/${case}")
  endforeach()
endfunction()
lumora_setup_gui_tests()
