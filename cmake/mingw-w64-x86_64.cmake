# Cross-compiling for 64-bit Windows with Debian's mingw-w64. The posix thread
# model: the code uses std::thread, which the win32 model lacks in GCC 12.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUEX_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${QUEX_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUEX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QUEX_MINGW}-windres)
set(CMAKE_ASM_COMPILER ${QUEX_MINGW}-gcc-posix)

# Headers and libraries for the target come from mingw's sysroot and the
# dependency prefix only, never from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QUEX_MINGW} ${QUEX_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
