#pragma once

// The OpenGL 3.3 core entry points, loaded at start-up by the window (or by an
// offline tool's own context).
#include <glad/gl.h>
