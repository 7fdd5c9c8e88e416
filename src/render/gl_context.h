#pragma once

struct GLFWwindow;
struct GLFWmonitor;

// Every window with a GL context comes from here: the demo's full-screen one,
// the preview's and the headless fallback's hidden one. This is the one place
// that asks for the context's version and profile and loads the GL functions.
struct GlWindowRequest {
    // Log lines start with it.
    const char* tag = "[Window]";
    const char* title = "quex_invi";
    int width = 64;
    int height = 64;
    // Full screen on it; windowed when null.
    GLFWmonitor* monitor = nullptr;
    bool visible = true;
    bool resizable = false;
};

// Creates the window with its context, makes the context current and loads the
// GL functions. GLFW must be initialised; window hints set before the call stay
// in force. On failure logs one line, destroys what it made, terminates GLFW
// and returns null.
GLFWwindow* openGlWindow(const GlWindowRequest& request);
