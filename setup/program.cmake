# The setup program LumoraSetup.exe: the language choice (portable), the task
# dialog controller with its worker, the entry point and the resources.
add_library(lumora_languages STATIC languages.cpp)
lumora_include_root(lumora_languages setup)

if(WIN32)
  add_library(lumora_setup STATIC setup_dialog.cpp string_resource.cpp crash_guard.cpp installation.cpp)
  lumora_include_root(lumora_setup setup)
  target_link_libraries(lumora_setup PUBLIC lumora_dialog_progress lumora_languages lumora_progress
    lumora_exception_message lumora_locale lumora_win lumora_update_core lumora_crashreport comctl32)

  # lumora_setup_program(<name> <language table source> DEPLOYMENT <libs>):
  # the program with a language table and the deployment values (trusted key
  # table, update server). The shipped program uses the maker's; the tests
  # build their own with a test key and a local server.
  function(lumora_setup_program name table)
    cmake_parse_arguments(P "" "" "DEPLOYMENT" ${ARGN})
    # The deployment values go in as objects: the update client's library,
    # which refers to them, comes later on the link line.
    set(deployment_objects)
    foreach(library IN LISTS P_DEPLOYMENT)
      list(APPEND deployment_objects $<TARGET_OBJECTS:${library}>)
    endforeach()
    add_executable(${name} WIN32 ${PROJECT_SOURCE_DIR}/setup/main.cpp ${PROJECT_SOURCE_DIR}/setup/${table}
                   $<TARGET_OBJECTS:lumora_resources> ${deployment_objects})
    target_link_libraries(${name} PRIVATE lumora_setup lumora_signature)
  endfunction()
  lumora_setup_program(LumoraSetup language_table.cpp
    DEPLOYMENT lumora_trusted_keys lumora_update_server_default lumora_signature_policy_default
               lumora_download_policy_default)
  # Shipped stripped; the unstripped LumoraSetup.full.exe beside it lets the
  # report reader name the functions of a crash report's frames.
  add_custom_command(TARGET LumoraSetup POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:LumoraSetup> $<TARGET_FILE_DIR:LumoraSetup>/LumoraSetup.full.exe
    COMMAND ${CMAKE_OBJCOPY} --strip-all $<TARGET_FILE:LumoraSetup>
    VERBATIM)
endif()

if(BUILD_TESTING)
  lumora_test(language_choice_tests LABEL setup SOURCES tests/language_choice_test.cpp LIBS lumora_languages)
  lumora_test(progress_bar_tests LABEL setup SOURCES tests/progress_bar_test.cpp LIBS lumora_progress)
  # progress_bar.hpp is header-only; its test reads it straight from the folder.
  lumora_include_root(progress_bar_tests setup PRIVATE)
  if(WIN32)
    include(${CMAKE_CURRENT_SOURCE_DIR}/tests/wow64_tests.cmake)
    include(${CMAKE_CURRENT_SOURCE_DIR}/tests/gui_tests.cmake)
  endif()
endif()
