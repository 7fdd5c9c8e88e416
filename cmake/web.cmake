# The browser build, compiled with Emscripten (scripts/build-web.sh): the demo
# as WebAssembly on WebGL 2, with Emscripten's own GLFW, against zlib and
# mpg123 built with emcc in QUEX_WEB_PREFIX. The page, the .js and the .wasm
# go to site/, with the music beside them: the archive leaves it out, and the
# page streams it (cmake/web_site.cmake writes the site). The tests and the
# authoring tools are Linux programs and are not built here.
set(QUEX_WEB_PREFIX "" CACHE PATH "Static zlib and mpg123 built with emcc")
set(QUEX_HOST_PACK_ASSETS "" CACHE FILEPATH "pack_assets built for the build machine")
set(QUEX_SITE ${CMAKE_BINARY_DIR}/site CACHE PATH "Where the page and its files go")
if(NOT QUEX_WEB_PREFIX OR NOT EXISTS "${QUEX_HOST_PACK_ASSETS}")
  message(FATAL_ERROR "Build for the browser with scripts/build-web.sh")
endif()

set(QUEX_PACK_ASSETS ${QUEX_HOST_PACK_ASSETS})
include(${CMAKE_SOURCE_DIR}/cmake/generated.cmake)
quex_host_headers(QUEX_HOST_HEADERS boost stb)
quex_archive(quex_archive archive --leave-out assets/music/tune.mp3)

add_library(stb_image STATIC ${CMAKE_SOURCE_DIR}/cmake/windows/stb_image.c)
target_include_directories(stb_image SYSTEM PUBLIC ${QUEX_HOST_HEADERS})

# WebGL 2 only: the demo needs OpenGL ES 3.0. No threads, so any static web
# server will do (no cross-origin isolation headers); no eval, so a
# Content-Security-Policy need allow only the site's own scripts and wasm.
# Hardened as far as this Emscripten (Debian's 3.1.6) allows: every move of
# the stack pointer is checked against the stack's end (STACK_OVERFLOW_CHECK=2),
# so an overflow aborts rather than writing over the static data below the
# stack. WebAssembly itself keeps code and return addresses out of the memory
# a program writes, and checks the type of every indirect call. There is no
# more: the C library has no fortified calls, and -fstack-protector needs a
# guard that this version's C library lacks.
set(QUEX_WEB_LINK_OPTIONS
    -sUSE_GLFW=3 -sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2 -sALLOW_MEMORY_GROWTH=1
    -sSTACK_OVERFLOW_CHECK=2 -sENVIRONMENT=web -sDYNAMIC_EXECUTION=0
    -sEXPORTED_FUNCTIONS=_malloc,_free --no-entry)

include(${CMAKE_SOURCE_DIR}/cmake/floors.cmake)
add_library(quex_web_deps INTERFACE)
target_include_directories(quex_web_deps SYSTEM INTERFACE ${QUEX_WEB_PREFIX}/include
                                                           ${QUEX_HOST_HEADERS})
target_link_libraries(quex_web_deps INTERFACE ${QUEX_WEB_PREFIX}/lib/libmpg123.a stb_image
                                              ${QUEX_WEB_PREFIX}/lib/libz.a)
quex_floors(EXTERNAL quex_web_deps)

add_executable(quex_invi ${CMAKE_SOURCE_DIR}/src/core/browser_main.cpp $<TARGET_OBJECTS:quex_archive>)
target_compile_options(quex_invi PRIVATE -Wall -Wextra)
target_link_libraries(quex_invi PRIVATE quex_core)
target_link_options(quex_invi PRIVATE ${QUEX_WEB_LINK_OPTIONS})
set_target_properties(quex_invi PROPERTIES SUFFIX ".js" RUNTIME_OUTPUT_DIRECTORY ${QUEX_SITE})
# The page and the music go beside them, written again whenever they or the
# program change.
set(web_files index.html page.js page.css worklet.js)
list(TRANSFORM web_files PREPEND ${CMAKE_SOURCE_DIR}/web/)
add_custom_command(
  OUTPUT ${QUEX_SITE}/index.html
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_SOURCE_DIR} -DSITE=${QUEX_SITE}
          -P ${CMAKE_SOURCE_DIR}/cmake/web_site.cmake
  DEPENDS quex_invi ${CMAKE_SOURCE_DIR}/cmake/web_site.cmake ${web_files}
          ${CMAKE_SOURCE_DIR}/assets/music/tune.mp3
  COMMENT "Writing the site's page and music")
add_custom_target(quex_site ALL DEPENDS ${QUEX_SITE}/index.html)
