# The size of the Windows programs (the figures: README, "Benchmarks").
#
# --gc-sections drops unused read-only data (43 kB of LumoraSetup.exe) but no
# code: ld's script for PE keeps every object's .eh_frame, one section per
# object with an entry for each of its functions, so every function of a
# linked object stays. For that reason -ffunction-sections/-fdata-sections
# drop nothing either (they add 2 kB of alignment), and what shrinks the
# program is linking fewer objects of the static libraries.
#
# Link-time optimisation is not used. It saves 74 kB, but the debug
# information of GCC 12's LTO output for PE loses its link to the objects'
# early debug information: addr2line, through which the report reader names
# the functions of a crash report from LumoraSetup.full.exe, then names no
# function for 45% of the addresses sampled in the project's own functions
# (13% without LTO). It links at all only with fenrix::stream::file's destructor
# defined out of line; with the implicit one ld reports multiple definitions
# of it and its virtual thunks, whatever LTO partitioning is chosen.
if(WIN32)
  add_link_options(-Wl,--gc-sections)
endif()

# lumora_optimise_for_size(<target>...): libraries off the path of the
# package's download and check, built for size (-Os) in optimised builds. It
# saves 44 kB; -Os everywhere would save 85 kB but builds the download and
# hashing loops for size too.
function(lumora_optimise_for_size)
  if(WIN32)
    foreach(target IN LISTS ARGN)
      if(TARGET ${target})
        target_compile_options(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:-Os>)
      endif()
    endforeach()
  endif()
endfunction()
