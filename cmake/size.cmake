# The size of the Windows programs. The static C++ runtime is most of
# LumoraSetup.exe; what the linker may drop without changing any code is
# dropped: sections nothing refers to (unused read-only tables of the static
# libraries). -ffunction-sections/-fdata-sections add nothing to this for
# the project's own code, and link-time optimisation fails with MinGW's
# virtual thunks (multiple definitions of a destructor's thunk).
if(WIN32)
  add_link_options(-Wl,--gc-sections)
endif()

# Size before speed for the project's own code (-Os: 120 KB less code in
# LumoraSetup.exe). The time of a download or a check is spent in libsodium's
# hash, which keeps the flags it was built with, in WinHTTP and in the file
# system, not in the few calls per 8 KiB block made here.
if(WIN32)
  add_compile_options($<$<CONFIG:Release,RelWithDebInfo>:-Os>)
endif()
