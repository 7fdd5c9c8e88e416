# One static library per folder of src/. A folder sees only the headers of the
# folders below it: each library's include root is a directory of links that
# holds just its own folder, so an include that runs the wrong way is a
# compile error, not a convention.
#
#   base     the log helper, shared types, clock arithmetic, keys, file watch
#   assets   AssetArchive (core/asset_archive.h), over base
#   audio    over base and assets
#   render   over base and assets, plus the script's entry types (headers)
#   scenes   over render
#   script   over scenes
#   text     over script (and so render and scenes)
#   core     over everything: Engine, Window, EditorHook
#
# quex_floors(EXTERNAL libs... EXCLUDE sources...): EXTERNAL are the platform's
# libraries (GL loader, GLFW, sound, zlib...), EXCLUDE the sources a platform
# does without.
set(QUEX_FLOOR_ROOT ${CMAKE_BINARY_DIR}/floors)

# The browser build swaps these desktop sources for its own: the window and
# the sound device (its process entry and frame loop are src/core/browser_main.cpp).
set(QUEX_DESKTOP_SOURCES core/window.cpp audio/sound_output_sdl.cpp audio/system_audio_log.cpp
                         render/headless_context.cpp)
set(QUEX_BROWSER_SOURCES core/browser_window.cpp audio/sound_output_web_audio.cpp)
if(EMSCRIPTEN)
  set(QUEX_PLATFORM_EXCLUDES ${QUEX_DESKTOP_SOURCES})
else()
  set(QUEX_PLATFORM_EXCLUDES ${QUEX_BROWSER_SOURCES})
endif()

# A directory holding links to the named folders or files of src/.
function(quex_floor_root name)
  set(root ${QUEX_FLOOR_ROOT}/${name})
  foreach(item IN LISTS ARGN)
    get_filename_component(parent ${root}/${item} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${root}/${item})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/${item} ${root}/${item} SYMBOLIC)
    endif()
  endforeach()
endfunction()

function(quex_floor name)
  cmake_parse_arguments(FLOOR "" "" "SOURCES;LINKS" ${ARGN})
  add_library(quex_${name} STATIC ${FLOOR_SOURCES})
  target_include_directories(quex_${name} PUBLIC ${QUEX_FLOOR_ROOT}/${name})
  target_compile_options(quex_${name} PRIVATE -Wall -Wextra)
  target_link_libraries(quex_${name} PUBLIC ${FLOOR_LINKS})
endfunction()

function(quex_floors)
  cmake_parse_arguments(FLOORS "" "" "EXTERNAL;EXCLUDE" ${ARGN})
  foreach(folder base audio render scenes script text core)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${folder}/*.cpp)
    foreach(excluded IN LISTS FLOORS_EXCLUDE QUEX_PLATFORM_EXCLUDES)
      list(REMOVE_ITEM sources ${CMAKE_SOURCE_DIR}/src/${excluded})
    endforeach()
    set(sources_${folder} ${sources})
    quex_floor_root(${folder} ${folder})
  endforeach()
  # AssetArchive is a library of its own; the process entries are the programs'.
  list(REMOVE_ITEM sources_core ${CMAKE_SOURCE_DIR}/src/core/asset_archive.cpp
       ${CMAKE_SOURCE_DIR}/src/core/main.cpp ${CMAKE_SOURCE_DIR}/src/core/browser_main.cpp)
  quex_floor_root(assets core/asset_archive.h)
  quex_floor_root(script_entries script/script.h script/entry_records.h)

  quex_floor(base SOURCES ${sources_base} LINKS ${FLOORS_EXTERNAL})
  quex_floor(assets SOURCES ${CMAKE_SOURCE_DIR}/src/core/asset_archive.cpp LINKS quex_base)
  quex_floor(audio SOURCES ${sources_audio} LINKS quex_base quex_assets)
  # OverlayManager draws the script's overlay entries: their types only.
  add_library(quex_script_entries INTERFACE)
  target_include_directories(quex_script_entries INTERFACE ${QUEX_FLOOR_ROOT}/script_entries)
  quex_floor(render SOURCES ${sources_render} LINKS quex_base quex_assets quex_script_entries)
  quex_floor(scenes SOURCES ${sources_scenes} LINKS quex_render)
  quex_floor(script SOURCES ${sources_script} LINKS quex_scenes)
  quex_floor(text SOURCES ${sources_text} LINKS quex_script)
  quex_floor(core SOURCES ${sources_core} LINKS quex_text quex_audio)
endfunction()

# Programs of ours, one per source file (tools, measuring programs), each
# linked with the floors it uses: ${name}_floors when
# the caller sets it, else the whole demo.
function(quex_programs)
  foreach(source IN LISTS ARGN)
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_compile_options(${name} PRIVATE -Wall -Wextra)
    if(NOT DEFINED ${name}_floors)
      set(${name}_floors quex_core)
    endif()
    target_link_libraries(${name} PRIVATE ${${name}_floors})
  endforeach()
endfunction()
