# The Windows build, cross-compiled with mingw-w64 (scripts/build-windows.sh):
# the demo and its damaged-archive twin as self-contained GUI executables,
# against static GLFW, SDL2 and mpg123 in QUEX_WINDOWS_PREFIX. The tests and
# the authoring tools are Linux programs and are not built here.
set(QUEX_WINDOWS_PREFIX "" CACHE PATH "Static GLFW, SDL2 and mpg123 built for Windows")
set(QUEX_HOST_PACK_ASSETS "" CACHE FILEPATH "pack_assets built for the build machine")
if(NOT QUEX_WINDOWS_PREFIX OR NOT EXISTS "${QUEX_HOST_PACK_ASSETS}")
  message(FATAL_ERROR "Build for Windows with scripts/build-windows.sh")
endif()

find_program(GLAD_EXECUTABLE glad REQUIRED)
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)

# Header-only libraries come from the build machine's Debian packages; the
# directory holds links to just those, not the host's whole include tree.
set(QUEX_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
foreach(dir boost stb)
  if(NOT EXISTS ${QUEX_HOST_HEADERS}/${dir})
    file(MAKE_DIRECTORY ${QUEX_HOST_HEADERS})
    file(CREATE_LINK /usr/include/${dir} ${QUEX_HOST_HEADERS}/${dir} SYMBOLIC)
  endif()
endforeach()

set(QUEX_PACK_ASSETS ${QUEX_HOST_PACK_ASSETS})
include(${CMAKE_SOURCE_DIR}/cmake/generated.cmake)
quex_archive(quex_archive archive)
quex_archive(quex_archive_corrupt archive_corrupt --corrupt)

# The headless context serves the Linux tests and tools (EGL).
file(GLOB_RECURSE QUEX_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/*.cpp)
list(REMOVE_ITEM QUEX_SOURCES ${CMAKE_SOURCE_DIR}/src/main.cpp
     ${CMAKE_SOURCE_DIR}/src/render/headless_context.cpp)
add_library(stb_image STATIC ${CMAKE_SOURCE_DIR}/cmake/windows/stb_image.c)
target_include_directories(stb_image SYSTEM PUBLIC ${QUEX_HOST_HEADERS})

add_library(quex STATIC ${QUEX_SOURCES})
target_include_directories(quex PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_include_directories(quex SYSTEM PUBLIC ${QUEX_WINDOWS_PREFIX}/include ${QUEX_HOST_HEADERS})
target_compile_options(quex PRIVATE -Wall -Wextra)
# What the static GLFW, SDL2 and mpg123 need from Windows itself.
target_link_libraries(
  quex PUBLIC glad ${QUEX_WINDOWS_PREFIX}/lib/libglfw3.a ${QUEX_WINDOWS_PREFIX}/lib/libSDL2.a
              ${QUEX_WINDOWS_PREFIX}/lib/libmpg123.a stb_image ZLIB::ZLIB
              gdi32 user32 shell32 winmm imm32 ole32 oleaut32 version uuid advapi32
              setupapi shlwapi)

# -static: libstdc++, libgcc and winpthread go inside, so the executable needs
# only the DLLs that come with Windows. -mwindows: a GUI process. -s: no
# symbol table in what is shipped.
foreach(variant quex_invi quex_invi_corrupt)
  string(REPLACE quex_invi quex_archive archive ${variant})
  add_executable(${variant} WIN32 ${CMAKE_SOURCE_DIR}/src/main.cpp $<TARGET_OBJECTS:${archive}>)
  target_compile_options(${variant} PRIVATE -Wall -Wextra)
  target_link_libraries(${variant} PRIVATE quex)
  target_link_options(${variant} PRIVATE -static -mwindows -s)
endforeach()
