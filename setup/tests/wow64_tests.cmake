# The program on 64-bit Windows: the tests whose outcome differs when the
# 32-bit program runs under WOW64, in the 64-bit prefix of the wine64 fixture.
# Everything else runs once, in the 32-bit prefix.

# What the system tells a 32-bit process there (printed for the record).
lumora_test(setup_wow64_platform_tests LABEL setup WIN64
  SOURCES tests/wow64_platform_test.cpp LIBS lumora_platform lumora_win shell32 ole32)

# lumora_setup_wow64_e2e_tests(<environment>): the end-to-end cases in the
# 64-bit prefix, with the environment every e2e case gets (gui_tests.cmake
# calls it). The x64 package, the product in the 64-bit Program Files, the
# channel from the 64-bit registry view.
# The 64-bit program's build runs every e2e case in its 64-bit prefix
# already; it adds the two cases of a 64-bit Windows there, in the same prefix
# (<e2e fixture>, <e2e environment>).
function(lumora_setup_wow64_e2e_tests environment e2e_fixture e2e_environment)
  if(LUMORA_PROGRAM_64)
    lumora_setup_e2e_tests(setup_e2e_x64_ wow64_e2e.py ${e2e_fixture} "${e2e_environment}"
      ${CMAKE_BINARY_DIR}/setup-e2e wine_msiexec_installs_x64_demo channel_from_64_bit_view)
    return()
  endif()
  lumora_setup_e2e_tests(setup_e2e_x64_ wow64_e2e.py ${LUMORA_WINE64_FIXTURE}
    "${environment};${LUMORA_WINE64_ENVIRONMENT};E2E_ARCHITECTURE=.x64" ${CMAKE_BINARY_DIR}/setup-e2e-x64
    happy_path wine_msiexec_installs_x64_demo channel_from_64_bit_view)
endfunction()
