# What every build generates at build time: the GL 3.3 core loader, from
# glad's bundled registry (the browser links WebGL's functions directly and
# needs none), and quex_archive(), which packs assets/ into an object library
# linked with .incbin. QUEX_PACK_ASSETS names the packer: the pack_assets
# target, or a host-built file when cross-compiling.
if(NOT EMSCRIPTEN)
  set(GLAD_DIR ${CMAKE_BINARY_DIR}/glad)
  add_custom_command(
    OUTPUT ${GLAD_DIR}/src/gl.c ${GLAD_DIR}/include/glad/gl.h
    COMMAND ${GLAD_EXECUTABLE} --quiet --reproducible --api gl:core=3.3 --out-path ${GLAD_DIR} c
    COMMENT "Generating the OpenGL 3.3 core loader")
  add_library(glad STATIC ${GLAD_DIR}/src/gl.c)
  target_include_directories(glad SYSTEM PUBLIC ${GLAD_DIR}/include)
  set_target_properties(glad PROPERTIES POSITION_INDEPENDENT_CODE ON)
endif()

# Header-only libraries for a cross build, from the build machine's Debian
# packages: a directory of links to just those, not the host's include tree.
function(quex_host_headers out)
  set(dir ${CMAKE_BINARY_DIR}/host-headers)
  foreach(name IN LISTS ARGN)
    if(NOT EXISTS ${dir}/${name})
      file(MAKE_DIRECTORY ${dir})
      file(CREATE_LINK /usr/include/${name} ${dir}/${name} SYMBOLIC)
    endif()
  endforeach()
  set(${out} ${dir} PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE QUEX_ASSET_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/assets/*)
function(quex_archive target dir)
  set(out ${CMAKE_BINARY_DIR}/${dir})
  add_custom_command(
    OUTPUT ${out}/archive.bin ${out}/archive_blob.S ${out}/archive_table.cpp
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${QUEX_PACK_ASSETS} ${CMAKE_SOURCE_DIR} ${out} ${ARGN}
    DEPENDS ${QUEX_PACK_ASSETS} ${QUEX_ASSET_FILES}
    COMMENT "Packing assets into ${dir}")
  add_library(${target} OBJECT ${out}/archive_blob.S ${out}/archive_table.cpp)
  set_source_files_properties(${out}/archive_blob.S PROPERTIES OBJECT_DEPENDS ${out}/archive.bin)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src)
endfunction()
