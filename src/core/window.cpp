#include "core/window.h"

#include "base/log.h"
#include "render/gl.h"
#include "render/gl_context.h"

#include <GLFW/glfw3.h>

namespace {

// Presses are latched so the frame loop sees a tap that ended before it looked.
void latchKey(GLFWwindow* handle, int key, int, int action, int) {
    if (auto* window = static_cast<Window*>(glfwGetWindowUserPointer(handle))) {
        window->keys.onKey(key, action);
    }
}

} // namespace

bool Window::create(const char* title) {
    if (!glfwInit()) {
        logLine(stderr, "[Window] glfwInit failed\n");
        return false;
    }
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    if (monitor == nullptr) {
        logLine(stderr, "[Window] no primary monitor\n");
        glfwTerminate();
        return false;
    }
    const GLFWvidmode* mode = glfwGetVideoMode(monitor);
    if (mode == nullptr) {
        logLine(stderr, "[Window] no video mode\n");
        glfwTerminate();
        return false;
    }
    width = mode->width;
    height = mode->height;

    // Keep the desktop's video mode so going full-screen does not switch it.
    glfwWindowHint(GLFW_RED_BITS, mode->redBits);
    glfwWindowHint(GLFW_GREEN_BITS, mode->greenBits);
    glfwWindowHint(GLFW_BLUE_BITS, mode->blueBits);
    glfwWindowHint(GLFW_REFRESH_RATE, mode->refreshRate);
    glfwWindowHint(GLFW_FLOATING, GLFW_TRUE);
    glfwWindowHint(GLFW_AUTO_ICONIFY, GLFW_FALSE);

    handle = openGlWindow({"[Window]", title, width, height, monitor});
    if (handle == nullptr) {
        return false;
    }
    glfwSetWindowUserPointer(handle, this);
    glfwSetKeyCallback(handle, latchKey);
    glfwSetInputMode(handle, GLFW_CURSOR, GLFW_CURSOR_HIDDEN);
    glfwSwapInterval(0);
    glViewport(0, 0, width, height);
    return true;
}

bool Window::shouldClose() const {
    return glfwWindowShouldClose(handle) != 0;
}

void Window::swapAndPoll() {
    glfwSwapBuffers(handle);
    glfwPollEvents();
}

void Window::destroy() {
    if (handle != nullptr) {
        glfwDestroyWindow(handle);
        handle = nullptr;
    }
    glfwTerminate();
}
