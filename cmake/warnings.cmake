add_compile_options(-Wall -Wextra)
if(WIN32)
  # Windows 7 is the oldest system the program runs on.
  add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE NOMINMAX
                          __USE_MINGW_ANSI_STDIO=0)
  # Frame pointers keep stacks walkable by dbghelp, which reads no DWARF.
  add_compile_options(-fno-omit-frame-pointer)
  # Debug information in every build type, Release included: the shipped
  # program is stripped (setup/program.cmake), and its unstripped twin
  # LumoraSetup.full.exe is what names the functions of its crash reports.
  add_compile_options(-g)
  # Only system DLLs at run time: no libstdc++, libgcc or winpthread DLL.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()
option(LUMORA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(LUMORA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
