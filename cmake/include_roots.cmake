# Each library's headers are reached through its own include root, so that a
# file can include only the headers of the libraries its target links.
#
#   lumora_include_root(<target> <folder> [PUBLIC|INTERFACE|PRIVATE])
#
# Headers are included by their path from the repository's root
# ("http/request.hpp"). Rather than the repository's root, which would open
# every folder to every file, the target gets a folder of the build tree that
# holds a single link named like <folder>, pointing at the source folder. A
# target that links the library (directly or through a library that links it
# publicly) sees that folder; any other include of it fails to compile.
# PUBLIC is the default: a library's headers are its interface. Folders with
# several libraries give each the same root.
get_filename_component(LUMORA_REPOSITORY_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

function(lumora_include_root target folder)
  set(scope PUBLIC)
  if(ARGC GREATER 2)
    set(scope ${ARGV2})
  endif()
  string(REPLACE "/" "-" root_name "${folder}")
  set(root ${CMAKE_BINARY_DIR}/include-roots/${root_name})
  if(NOT IS_SYMLINK ${root}/${folder})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${LUMORA_REPOSITORY_ROOT}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${root})
endfunction()
