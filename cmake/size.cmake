# The size of the Windows programs. The static C++ runtime is most of
# LumoraSetup.exe; what the linker may drop without changing any code is
# dropped: sections nothing refers to (unused read-only tables of the static
# libraries). -ffunction-sections/-fdata-sections add nothing to this for
# the project's own code, and link-time optimisation fails with MinGW's
# virtual thunks (multiple definitions of a destructor's thunk).
if(WIN32)
  add_link_options(-Wl,--gc-sections)
endif()
