# The setup program LumoraSetup.exe: the language choice (portable), the task
# dialog controller with its worker, the entry point and the resources.
add_library(lumora_languages STATIC languages.cpp)

# The worker needs the update client and the platform naming; until both are
# in the tree the program itself is not built.
if(EXISTS ${CMAKE_SOURCE_DIR}/update/update_client.hpp AND EXISTS ${CMAKE_SOURCE_DIR}/setup/platform.hpp)
  set(lumora_setup_complete ON)
endif()

if(WIN32 AND lumora_setup_complete)
  add_library(lumora_setup STATIC setup_dialog.cpp string_resource.cpp crash_guard.cpp installation.cpp)
  target_link_libraries(lumora_setup PUBLIC lumora_languages lumora_progress lumora_exception_message
    lumora_locale lumora_win lumora_update comctl32)

  # One program per language table: the shipped one, and for the tests one
  # with two languages so that the language page is shown.
  function(lumora_setup_program name)
    add_executable(${name} WIN32 main.cpp ${ARGN} $<TARGET_OBJECTS:lumora_resources>)
    target_link_libraries(${name} PRIVATE lumora_setup)
  endfunction()
  lumora_setup_program(LumoraSetup language_table.cpp)
endif()

if(BUILD_TESTING)
  lumora_test(language_choice_tests LABEL setup SOURCES tests/language_choice_test.cpp LIBS lumora_languages)
  if(WIN32)
    include(${CMAKE_CURRENT_SOURCE_DIR}/tests/gui_tests.cmake)
  endif()
endif()
