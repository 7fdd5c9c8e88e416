#include "render/headless_context.h"

#include "base/log.h"
#include "render/gl.h"
#include "render/gl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLFW/glfw3.h>
#include <cstring>
#include <string>

namespace {

#ifndef EGL_PLATFORM_SURFACELESS_MESA
#define EGL_PLATFORM_SURFACELESS_MESA 0x31DD
#endif

bool hasClientExtension(const char* name) {
    const char* extensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    return extensions != nullptr && std::strstr(extensions, name) != nullptr;
}

PFNEGLGETPLATFORMDISPLAYEXTPROC platformDisplayFunction() {
    return reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
}

EGLDisplay surfacelessDisplay() {
    const auto getPlatformDisplay = platformDisplayFunction();
    if (!hasClientExtension("EGL_MESA_platform_surfaceless") || getPlatformDisplay == nullptr) {
        return EGL_NO_DISPLAY;
    }
    return getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
}

// A device's name for the log: its DRM node, or what kind of device it is.
std::string deviceName(EGLDeviceEXT device) {
    const auto queryString = reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(
        eglGetProcAddress("eglQueryDeviceStringEXT"));
    const char* extensions = queryString ? queryString(device, EGL_EXTENSIONS) : nullptr;
    if (extensions == nullptr) {
        return "device";
    }
    if (std::strstr(extensions, "EGL_EXT_device_drm") != nullptr) {
        const char* file = queryString(device, EGL_DRM_DEVICE_FILE_EXT);
        if (file != nullptr) {
            return file;
        }
    }
    return std::strstr(extensions, "EGL_MESA_device_software") != nullptr ? "software" : "device";
}

// A 3.3 core, forward-compatible context current without a surface on an
// initialised display, with the GL functions loaded; EGL_NO_CONTEXT if not.
EGLContext currentContext(EGLDisplay dpy) {
    if (!eglBindAPI(EGL_OPENGL_API)) {
        return EGL_NO_CONTEXT;
    }
    const EGLint configAttribs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                    EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    eglChooseConfig(dpy, configAttribs, &config, 1, &count);
    const EGLint contextAttribs[] = {EGL_CONTEXT_MAJOR_VERSION_KHR,
                                     3,
                                     EGL_CONTEXT_MINOR_VERSION_KHR,
                                     3,
                                     EGL_CONTEXT_OPENGL_PROFILE_MASK_KHR,
                                     EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT_KHR,
                                     EGL_CONTEXT_FLAGS_KHR,
                                     EGL_CONTEXT_OPENGL_FORWARD_COMPATIBLE_BIT_KHR,
                                     EGL_NONE};
    EGLContext ctx = eglCreateContext(dpy, count > 0 ? config : EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT,
                                      contextAttribs);
    if (ctx == EGL_NO_CONTEXT) {
        return EGL_NO_CONTEXT;
    }
    if (eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, ctx) &&
        gladLoadGL(reinterpret_cast<GLADloadfunc>(eglGetProcAddress)) != 0) {
        return ctx;
    }
    eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(dpy, ctx);
    return EGL_NO_CONTEXT;
}

const char* rendererName() {
    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    return renderer != nullptr ? renderer : "?";
}

} // namespace

bool HeadlessContext::adopt(void* eglDisplay) {
    const auto dpy = static_cast<EGLDisplay>(eglDisplay);
    if (dpy == EGL_NO_DISPLAY || !eglInitialize(dpy, nullptr, nullptr)) {
        return false;
    }
    const EGLContext ctx = currentContext(dpy);
    if (ctx == EGL_NO_CONTEXT) {
        eglTerminate(dpy);
        return false;
    }
    display = dpy;
    context = ctx;
    egl = true;
    return true;
}

bool HeadlessContext::create(HeadlessRoute only) {
    const auto tries = [only](HeadlessRoute route) {
        return only == HeadlessRoute::Any || only == route;
    };
    if (tries(HeadlessRoute::Surfaceless) && adopt(surfacelessDisplay())) {
        logLine(stderr, "[Headless] EGL surfaceless: %s\n", rendererName());
        return true;
    }

    // Every vendor's EGL may offer its devices; the first that gives the
    // context wins.
    const auto getPlatformDisplay = platformDisplayFunction();
    const auto queryDevices =
        reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    if (tries(HeadlessRoute::Device) && hasClientExtension("EGL_EXT_platform_device") &&
        getPlatformDisplay != nullptr && queryDevices != nullptr) {
        EGLDeviceEXT devices[16] = {};
        EGLint count = 0;
        if (queryDevices(16, devices, &count)) {
            for (EGLint i = 0; i < count; ++i) {
                if (adopt(getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr))) {
                    logLine(stderr, "[Headless] EGL device %d of %d (%s): %s\n", i + 1, count,
                            deviceName(devices[i]).c_str(), rendererName());
                    return true;
                }
            }
        }
    }

    if (!tries(HeadlessRoute::Window)) {
        logLine(stderr, "[Headless] the route asked for gives no GL 3.3 core context\n");
        return false;
    }
    // No EGL context: a hidden window needs a display server.
    if (!glfwInit()) {
        logLine(stderr, "[Headless] no EGL and no display for a hidden window\n");
        return false;
    }
    GLFWwindow* window = openGlWindow({"[Headless]", "quex_invi", 64, 64, nullptr, false});
    if (window == nullptr) {
        return false;
    }
    glfwWindow = window;
    logLine(stderr, "[Headless] hidden GLFW window: %s\n", rendererName());
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
