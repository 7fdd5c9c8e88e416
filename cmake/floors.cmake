# One static library per folder of src/. A folder sees only the headers of the
# folders below it: each library's include root is a directory of links that
# holds just its own folder, so an include that runs the wrong way is a
# compile error, not a convention. No include may say ".." (that would reach
# past the root), and every header compiles on its own inside its floor.
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
# The desktop's own sound system is PulseAudio's on Linux, WASAPI on Windows.
set(QUEX_LINUX_SOURCES audio/system_sound_pulse.cpp)
set(QUEX_WINDOWS_SOURCES audio/system_sound_wasapi.cpp)
set(QUEX_DESKTOP_SOURCES core/window.cpp audio/sound_output_sdl.cpp audio/system_audio_log.cpp
                         render/headless_context.cpp ${QUEX_LINUX_SOURCES} ${QUEX_WINDOWS_SOURCES})
set(QUEX_BROWSER_SOURCES core/browser_window.cpp audio/sound_output_web_audio.cpp)
if(EMSCRIPTEN)
  set(QUEX_PLATFORM_EXCLUDES ${QUEX_DESKTOP_SOURCES})
elseif(WIN32)
  set(QUEX_PLATFORM_EXCLUDES ${QUEX_BROWSER_SOURCES} ${QUEX_LINUX_SOURCES})
else()
  set(QUEX_PLATFORM_EXCLUDES ${QUEX_BROWSER_SOURCES} ${QUEX_WINDOWS_SOURCES})
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
  add_dependencies(quex_${name} quex_floor_includes)
endfunction()

# Every header compiles on its own, seeing only what `links` let it see: one
# that leans on what its includer brought, or includes from a floor above
# (even where only a higher floor includes it), fails the build.
# HEADERS are paths under src/.
function(quex_floor_headers name)
  cmake_parse_arguments(CHECK "" "" "HEADERS;LINKS" ${ARGN})
  set(sources "")
  foreach(header IN LISTS CHECK_HEADERS)
    string(MAKE_C_IDENTIFIER ${header} id)
    set(source ${CMAKE_BINARY_DIR}/floor_headers/${name}/${id}.cpp)
    # Twice, so that a header without its include guard fails too.
    file(CONFIGURE OUTPUT ${source} CONTENT "#include \"${header}\"\n#include \"${header}\"\n")
    list(APPEND sources ${source})
  endforeach()
  add_library(quex_${name}_headers OBJECT ${sources})
  target_compile_options(quex_${name}_headers PRIVATE -Wall -Wextra)
  target_link_libraries(quex_${name}_headers PRIVATE ${CHECK_LINKS})
endfunction()

function(quex_floors)
  cmake_parse_arguments(FLOORS "" "" "EXTERNAL;EXCLUDE" ${ARGN})
  # No include reaches past its floor with "..": checked on every build.
  file(GLOB_RECURSE all_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/*.h
       ${CMAKE_SOURCE_DIR}/src/*.cpp)
  set(checked ${QUEX_FLOOR_ROOT}/includes.checked)
  add_custom_command(
    OUTPUT ${checked}
    COMMAND ${CMAKE_COMMAND} -DROOT=${CMAKE_SOURCE_DIR}/src -P
            ${CMAKE_SOURCE_DIR}/cmake/check_includes.cmake
    COMMAND ${CMAKE_COMMAND} -E touch ${checked}
    DEPENDS ${all_sources} ${CMAKE_SOURCE_DIR}/cmake/check_includes.cmake
    COMMENT "Checking that no include climbs past its floor")
  add_custom_target(quex_floor_includes DEPENDS ${checked})

  foreach(folder base audio render scenes script text core)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${folder}/*.cpp)
    file(GLOB headers RELATIVE ${CMAKE_SOURCE_DIR}/src CONFIGURE_DEPENDS
         ${CMAKE_SOURCE_DIR}/src/${folder}/*.h)
    foreach(excluded IN LISTS FLOORS_EXCLUDE QUEX_PLATFORM_EXCLUDES)
      list(REMOVE_ITEM sources ${CMAKE_SOURCE_DIR}/src/${excluded})
      # A platform's header goes with its source.
      string(REGEX REPLACE "\\.cpp$" ".h" header ${excluded})
      list(REMOVE_ITEM headers ${header})
    endforeach()
    set(sources_${folder} ${sources})
    set(headers_${folder} ${headers})
    quex_floor_root(${folder} ${folder})
  endforeach()
  # Headers that a lower floor sees are checked with what that floor sees.
  list(REMOVE_ITEM headers_core core/asset_archive.h)
  list(REMOVE_ITEM headers_script script/script.h script/entry_records.h)
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

  quex_floor_headers(assets HEADERS core/asset_archive.h LINKS quex_assets)
  quex_floor_headers(script_entries HEADERS script/script.h script/entry_records.h
                     LINKS quex_script_entries quex_base quex_assets)
  foreach(folder base audio render scenes script text core)
    quex_floor_headers(${folder} HEADERS ${headers_${folder}} LINKS quex_${folder})
  endforeach()
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
