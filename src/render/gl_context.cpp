#include "render/gl_context.h"

#include "base/log.h"
#include "render/gl.h"

#include <GLFW/glfw3.h>

GLFWwindow* openGlWindow(const GlWindowRequest& request) {
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    // Nothing deprecated: what runs here runs on every 3.3 core driver.
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
    glfwWindowHint(GLFW_DOUBLEBUFFER, GLFW_TRUE);
    glfwWindowHint(GLFW_VISIBLE, request.visible ? GLFW_TRUE : GLFW_FALSE);
    glfwWindowHint(GLFW_RESIZABLE, request.resizable ? GLFW_TRUE : GLFW_FALSE);

    GLFWwindow* window =
        glfwCreateWindow(request.width, request.height, request.title, request.monitor, nullptr);
    if (window == nullptr) {
        logLine(stderr, "%s create failed\n", request.tag);
        glfwTerminate();
        return nullptr;
    }
    glfwMakeContextCurrent(window);
    if (gladLoadGL(reinterpret_cast<GLADloadfunc>(glfwGetProcAddress)) == 0) {
        logLine(stderr, "%s glad init failed\n", request.tag);
        glfwDestroyWindow(window);
        glfwTerminate();
        return nullptr;
    }
    return window;
}
