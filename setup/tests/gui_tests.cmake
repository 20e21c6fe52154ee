# The end-to-end tests of LumoraSetup.exe: a Windows test driver works the
# program's windows under Wine and Xvfb while a host script serves the update
# tree with nginx and checks what the program did.

# The driver: finds the dialog and message boxes, reads them, presses buttons.
add_executable(setup_gui_driver tests/gui_driver.cpp)
target_link_options(setup_gui_driver PRIVATE -municode)
target_link_libraries(setup_gui_driver PRIVATE comctl32)

# The stand-in for msiexec.exe that records its command line.
add_executable(msiexec_recorder WIN32 tests/msiexec_recorder.cpp)
target_link_options(msiexec_recorder PRIVATE -municode)

if(NOT lumora_setup_complete)
  return()
endif()

add_test(NAME setup_program_is_gui_pe32
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-pe.sh gui $<TARGET_FILE:LumoraSetup>)
set_tests_properties(setup_program_is_gui_pe32 PROPERTIES LABELS setup TIMEOUT 30)
