#include "render/gl_context.h"

#include "base/log.h"
#include "render/gl.h"

#include <GLFW/glfw3.h>
#include <cstring>

namespace {

// The context the demo asks for: GL 3.3 core on the desktop, WebGL 2 (OpenGL
// ES 3.0) in the browser. Shader sources follow it (render/shader.h).
void requestContext() {
#if defined(__EMSCRIPTEN__)
    glfwWindowHint(GLFW_CLIENT_API, GLFW_OPENGL_ES_API);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 0);
#else
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    // Nothing deprecated: what runs here runs on every 3.3 core driver.
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
#endif
}

// The GL functions, and what the core profile has that WebGL 2 lacks without
// an extension: rendering into half-float targets.
bool loadFunctions(const char* tag) {
#if defined(__EMSCRIPTEN__)
    const auto* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    if (extensions == nullptr || std::strstr(extensions, "EXT_color_buffer_float") == nullptr) {
        logLine(stderr, "%s WebGL 2 without EXT_color_buffer_float\n", tag);
        return false;
    }
    return true;
#else
    if (gladLoadGL(reinterpret_cast<GLADloadfunc>(glfwGetProcAddress)) == 0) {
        logLine(stderr, "%s glad init failed\n", tag);
        return false;
    }
    return true;
#endif
}

} // namespace

GLFWwindow* openGlWindow(const GlWindowRequest& request) {
    requestContext();
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
    if (!loadFunctions(request.tag)) {
        glfwDestroyWindow(window);
        glfwTerminate();
        return nullptr;
    }
    return window;
}
