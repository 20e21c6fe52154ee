# googletest from the sources Debian's googletest package ships.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

if(WIN32)
  # zlib from Debian's mingw package, libsodium cross-built by scripts/install-deps.sh.
  find_library(ZLIB_STATIC NAMES libz.a REQUIRED)
  add_library(lumora_zlib INTERFACE)
  target_link_libraries(lumora_zlib INTERFACE ${ZLIB_STATIC})
  # One build per processor (i686 for the win build, x86_64 for the win64 build).
  set(sodium_prefix ${LUMORA_DEPS_DIR}/libsodium-${CMAKE_SYSTEM_PROCESSOR})
  if(NOT EXISTS ${sodium_prefix}/lib/libsodium.a)
    message(FATAL_ERROR "libsodium for ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32 missing: run scripts/install-deps.sh")
  endif()
  add_library(lumora_sodium STATIC IMPORTED GLOBAL)
  set_target_properties(lumora_sodium PROPERTIES
    IMPORTED_LOCATION ${sodium_prefix}/lib/libsodium.a
    INTERFACE_INCLUDE_DIRECTORIES ${sodium_prefix}/include
    INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC
    # Debian's build flags compile libsodium with _FORTIFY_SOURCE; its checked
    # memcpy comes from GCC's static libssp.
    INTERFACE_LINK_LIBRARIES ssp)
else()
  find_package(ZLIB REQUIRED)
  add_library(lumora_zlib INTERFACE)
  target_link_libraries(lumora_zlib INTERFACE ZLIB::ZLIB)
  find_library(SODIUM_LIB NAMES sodium REQUIRED)
  add_library(lumora_sodium INTERFACE)
  target_link_libraries(lumora_sodium INTERFACE ${SODIUM_LIB})
endif()
