# Which headers of a target others may include, enforced by the build.
#
# A target's faces are the headers that any target linking it may include;
# its own headers (a stand-in's internal/ folder, say) only its own sources
# and the tests. No production target has the source root on its include
# path: each finds the faces of what it links in a tree of links in the
# build folder that holds those faces alone, and its own headers in a tree
# of its own. Headers are included by their path from the source root
# ("platform/itlibrary/ITLibrary.h") either way.
#
#   harmonode_headers(<target> FACES <header>... [OWN <header>...])
#
# Header paths are relative to the calling folder. The faces are recorded in
# the target's HARMONODE_FACES property (absolute paths).

set(HARMONODE_HEADER_TREES ${PROJECT_BINARY_DIR}/headers)
# Links of headers that have since moved or changed role go with each configure.
file(REMOVE_RECURSE ${HARMONODE_HEADER_TREES})

function(harmonode_headers target)
  cmake_parse_arguments(ARG "" "" "FACES;OWN" ${ARGN})
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "harmonode_headers(${target}): unexpected ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(faces_tree ${HARMONODE_HEADER_TREES}/faces/${target})
  set(own_tree ${HARMONODE_HEADER_TREES}/own/${target})
  set(recorded)
  foreach(kind FACES OWN)
    if(kind STREQUAL FACES)
      set(tree ${faces_tree})
    else()
      set(tree ${own_tree})
    endif()
    foreach(header IN LISTS ARG_${kind})
      set(source ${CMAKE_CURRENT_SOURCE_DIR}/${header})
      if(NOT EXISTS ${source})
        message(FATAL_ERROR "harmonode_headers(${target}): no header ${source}")
      endif()
      get_filename_component(link_folder ${tree}/${folder}/${header} DIRECTORY)
      file(MAKE_DIRECTORY ${link_folder})
      file(CREATE_LINK ${source} ${tree}/${folder}/${header} SYMBOLIC)
      if(kind STREQUAL FACES)
        list(APPEND recorded ${source})
      endif()
    endforeach()
  endforeach()
  # A header's __FILE__ is its path from the source root, as for sources,
  # not a path into the build folder.
  set(faces_map $<BUILD_INTERFACE:-fmacro-prefix-map=${faces_tree}/=>)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL INTERFACE_LIBRARY)
    target_include_directories(${target} INTERFACE $<BUILD_INTERFACE:${faces_tree}>)
    target_compile_options(${target} INTERFACE ${faces_map})
  else()
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${faces_tree}>)
    target_compile_options(${target} PUBLIC ${faces_map})
    if(ARG_OWN)
      target_include_directories(${target} PRIVATE ${own_tree})
      target_compile_options(${target} PRIVATE -fmacro-prefix-map=${own_tree}/=)
    endif()
  endif()
  set_property(TARGET ${target} PROPERTY HARMONODE_FACES ${recorded})
endfunction()
