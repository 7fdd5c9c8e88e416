#include "render/headless_context.h"

#include "base/log.h"
#include "render/gl.h"
#include "render/gl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLFW/glfw3.h>
#include <cstring>

namespace {

#ifndef EGL_PLATFORM_SURFACELESS_MESA
#define EGL_PLATFORM_SURFACELESS_MESA 0x31DD
#endif

EGLDisplay surfacelessDisplay() {
    const char* extensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (extensions == nullptr ||
        std::strstr(extensions, "EGL_MESA_platform_surfaceless") == nullptr) {
        return EGL_NO_DISPLAY;
    }
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay == nullptr) {
        return EGL_NO_DISPLAY;
    }
    return getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
}

} // namespace

bool HeadlessContext::create() {
    EGLDisplay dpy = surfacelessDisplay();
    if (dpy != EGL_NO_DISPLAY && eglInitialize(dpy, nullptr, nullptr) &&
        eglBindAPI(EGL_OPENGL_API)) {
        const EGLint configAttribs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                        EGL_OPENGL_BIT, EGL_NONE};
        EGLConfig config = nullptr;
        EGLint count = 0;
        eglChooseConfig(dpy, configAttribs, &config, 1, &count);
        const EGLint contextAttribs[] = {EGL_CONTEXT_MAJOR_VERSION,
                                         3,
                                         EGL_CONTEXT_MINOR_VERSION,
                                         3,
                                         EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                         EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                         EGL_NONE};
        EGLContext ctx = eglCreateContext(dpy, count > 0 ? config : EGL_NO_CONFIG_KHR,
                                          EGL_NO_CONTEXT, contextAttribs);
        if (ctx != EGL_NO_CONTEXT && eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, ctx) &&
            gladLoadGL(reinterpret_cast<GLADloadfunc>(eglGetProcAddress)) != 0) {
            display = dpy;
            context = ctx;
            egl = true;
            return true;
        }
        if (ctx != EGL_NO_CONTEXT) {
            eglDestroyContext(dpy, ctx);
        }
        eglTerminate(dpy);
    }

    // No surfaceless EGL: a hidden window needs a display server.
    if (!glfwInit()) {
        logLine(stderr, "[Headless] no EGL and no display for a hidden window\n");
        return false;
    }
    GLFWwindow* window = openGlWindow({"[Headless]", "quex_invi", 64, 64, nullptr, false});
    if (window == nullptr) {
        return false;
    }
    glfwWindow = window;
    return true;
}

void HeadlessContext::destroy() {
    if (egl) {
        auto dpy = static_cast<EGLDisplay>(display);
        eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(dpy, static_cast<EGLContext>(context));
        eglTerminate(dpy);
        egl = false;
        display = nullptr;
        context = nullptr;
    }
    if (glfwWindow != nullptr) {
        glfwDestroyWindow(static_cast<GLFWwindow*>(glfwWindow));
        glfwWindow = nullptr;
        glfwTerminate();
    }
}
