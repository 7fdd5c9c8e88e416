# The Windows build, cross-compiled with mingw-w64 (scripts/build-windows.sh):
# the demo and its damaged-archive twin as self-contained GUI executables,
# against static GLFW, SDL2, mpg123 and zlib in QUEX_WINDOWS_PREFIX. The tests and
# the authoring tools are Linux programs and are not built here.
set(QUEX_WINDOWS_PREFIX "" CACHE PATH "Static GLFW, SDL2, mpg123 and zlib built for Windows")
set(QUEX_HOST_PACK_ASSETS "" CACHE FILEPATH "pack_assets built for the build machine")
if(NOT QUEX_WINDOWS_PREFIX OR NOT EXISTS "${QUEX_HOST_PACK_ASSETS}")
  message(FATAL_ERROR "Build for Windows with scripts/build-windows.sh")
endif()

find_program(GLAD_EXECUTABLE glad REQUIRED)

set(QUEX_PACK_ASSETS ${QUEX_HOST_PACK_ASSETS})
include(${CMAKE_SOURCE_DIR}/cmake/generated.cmake)
quex_host_headers(QUEX_HOST_HEADERS boost stb)
quex_archive(quex_archive archive)
quex_archive(quex_archive_corrupt archive_corrupt --corrupt)

add_library(stb_image STATIC ${CMAKE_SOURCE_DIR}/cmake/windows/stb_image.c)
target_include_directories(stb_image SYSTEM PUBLIC ${QUEX_HOST_HEADERS})

# The same floors as on Linux, less the headless context, which serves the
# Linux tests and tools (EGL). What the static GLFW, SDL2 and mpg123 need
# from Windows itself comes last.
include(${CMAKE_SOURCE_DIR}/cmake/floors.cmake)
add_library(quex_windows_deps INTERFACE)
target_include_directories(quex_windows_deps SYSTEM INTERFACE ${QUEX_WINDOWS_PREFIX}/include
                                                               ${QUEX_HOST_HEADERS})
target_link_libraries(
  quex_windows_deps INTERFACE glad ${QUEX_WINDOWS_PREFIX}/lib/libglfw3.a
                              ${QUEX_WINDOWS_PREFIX}/lib/libSDL2.a ${QUEX_WINDOWS_PREFIX}/lib/libmpg123.a
                              stb_image ${QUEX_WINDOWS_PREFIX}/lib/libz.a gdi32 user32 shell32 winmm imm32 ole32 oleaut32
                              version uuid advapi32 setupapi shlwapi)
quex_floors(EXTERNAL quex_windows_deps EXCLUDE render/headless_context.cpp)

# The icon (drawn by tools/pipeline/gen_pictures) and the version information, compiled
# by mingw-w64's windres.
enable_language(RC)
set(QUEX_ICON_FILE ${CMAKE_SOURCE_DIR}/packaging/icons/quex_invi.ico)
configure_file(${CMAKE_SOURCE_DIR}/cmake/windows/quex_invi.rc.in ${CMAKE_BINARY_DIR}/quex_invi.rc
               @ONLY)

# -static: libstdc++, libgcc and winpthread go inside, so the executable needs
# only the DLLs that come with Windows. -mwindows: a GUI process. -s: no
# symbol table in what is shipped; the link map says what went in instead
# (scripts/build-windows.sh checks the hardening and lists the notices' parts
# from it). The compile and link flags come from that script.
foreach(variant quex_invi quex_invi_corrupt)
  string(REPLACE quex_invi quex_archive archive ${variant})
  add_executable(${variant} WIN32 ${CMAKE_SOURCE_DIR}/src/core/main.cpp ${CMAKE_BINARY_DIR}/quex_invi.rc
                            $<TARGET_OBJECTS:${archive}>)
  target_compile_options(${variant} PRIVATE -Wall -Wextra)
  target_link_libraries(${variant} PRIVATE quex_core)
  target_link_options(${variant} PRIVATE -static -mwindows -s
                      -Wl,-Map=${CMAKE_BINARY_DIR}/${variant}.map)
endforeach()
