# Layer rules, enforced by the compiler. A library's include root is a folder in the build
# tree that holds one link, named after its own source folder; it sees the other layers'
# headers only through the libraries it links. So a core library that includes a shell or
# ui header, or a lower layer that includes a higher one, fails to compile. The core links
# no Qt, so Qt headers are not on its include path either.
#
# orb_layer_headers(TARGET FOLDER): FOLDER is the target's folder under src/ ("engine",
# "tools/orbctl").
function(orb_layer_headers target folder)
  string(REPLACE "/" "_" view "${folder}")
  set(root ${PROJECT_BINARY_DIR}/layers/${view})
  set(link ${root}/${folder})
  get_filename_component(parent ${link} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT IS_SYMLINK ${link})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${link} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
