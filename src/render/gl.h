#pragma once

#if defined(__EMSCRIPTEN__)
// WebGL 2 through Emscripten's OpenGL ES 3.0 functions, linked in.
#include <GLES3/gl3.h>
#else
// The OpenGL 3.3 core entry points, loaded at start-up by the window (or by an
// offline tool's own context).
#include <glad/gl.h>
#endif
