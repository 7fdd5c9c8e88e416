#include "core/window.h"

#include "base/log.h"
#include "render/gl.h"
#include "render/gl_context.h"

#include <GLFW/glfw3.h>
#include <algorithm>
#include <cmath>
#include <emscripten.h>
#include <emscripten/html5.h>

// The demo's window in a browser: the page's canvas, sized in device pixels to
// the box the page gives it (the whole window, in full screen or not). The
// page asks for full screen on the click that starts the demo; the animation
// frame shows what was drawn, so swapping and polling have nothing to do.
// Every run of the page creates and destroys one, so destroying it leaves
// nothing of it behind in Emscripten's GLFW and GL layers.

namespace {

const char* const kCanvas = "#canvas";

// clang-format off
// Emscripten's GLFW adds a resize listener at each glfwInit and never removes
// it: the one it adds is marked here and taken out after glfwTerminate.
EM_JS(void, markResizeListeners, (), {
    Module.quexResizeListeners = Browser.resizeListeners.length;
});

EM_JS(void, dropGlfwResizeListener, (), {
    if (Module.quexResizeListeners !== undefined &&
        Browser.resizeListeners.length > Module.quexResizeListeners) {
        Browser.resizeListeners.splice(Module.quexResizeListeners, 1);
    }
    Module.quexResizeListeners = undefined;
});

// Destroying the window keeps the context's record in the GL layer, and the
// next window makes a new one: the record goes with the window.
EM_JS(void, dropContextRecord, (), {
    if (GL.currentContext) {
        GL.deleteContext(GL.currentContext.handle);
    }
});
// clang-format on

void latchKey(GLFWwindow* handle, int key, int, int action, int) {
    if (auto* window = static_cast<Window*>(glfwGetWindowUserPointer(handle))) {
        window->keys.onKey(key, action);
    }
}

void canvasPixels(int& width, int& height) {
    double cssWidth = 0.0;
    double cssHeight = 0.0;
    emscripten_get_element_css_size(kCanvas, &cssWidth, &cssHeight);
    const double ratio = emscripten_get_device_pixel_ratio();
    width = std::max(1, static_cast<int>(std::lround(cssWidth * ratio)));
    height = std::max(1, static_cast<int>(std::lround(cssHeight * ratio)));
}

} // namespace

bool Window::create(const char* title) {
    markResizeListeners();
    if (!glfwInit()) {
        logLine(stderr, "[Window] glfwInit failed\n");
        return false;
    }
    canvasPixels(width, height);
    handle = openGlWindow({"[Window]", title, width, height});
    if (handle == nullptr) {
        return false;
    }
    glfwSetWindowUserPointer(handle, this);
    glfwSetKeyCallback(handle, latchKey);
    glViewport(0, 0, width, height);
    return true;
}

bool Window::followPageSize() {
    int w = 0;
    int h = 0;
    canvasPixels(w, h);
    if (w == width && h == height) {
        return false;
    }
    width = w;
    height = h;
    emscripten_set_canvas_element_size(kCanvas, width, height);
    return true;
}

bool Window::shouldClose() const {
    return glfwWindowShouldClose(handle) != 0;
}

void Window::swapAndPoll() {}

void Window::destroy() {
    if (handle != nullptr) {
        glfwDestroyWindow(handle);
        dropContextRecord();
        handle = nullptr;
    }
    glfwTerminate();
    dropGlfwResizeListener();
}
