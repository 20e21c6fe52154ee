# Tests of the crash reporter (label crash).
lumora_test(crashreport_reply_tests LABEL crash
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/reply_test.cpp LIBS lumora_crashreport_reply)

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

  add_executable(crash_driver ${CMAKE_CURRENT_LIST_DIR}/crash_driver.cpp)
  target_link_options(crash_driver PRIVATE -municode)
endif()
