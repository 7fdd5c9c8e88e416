#include "core/window.h"

#include "base/log.h"
#include "render/gl.h"
#include "render/gl_context.h"

#include <GLFW/glfw3.h>
#include <algorithm>
#include <cmath>
#include <emscripten/html5.h>

// The demo's window in a browser: the page's canvas, sized in device pixels to
// the box the page gives it (the whole window, in full screen or not). The
// page asks for full screen on the click that starts the demo; the animation
// frame shows what was drawn, so swapping and polling have nothing to do.

namespace {

const char* const kCanvas = "#canvas";

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
        handle = nullptr;
    }
    glfwTerminate();
}
