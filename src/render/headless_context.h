#pragma once

// A GL 3.3 core context without a window, for tests and offline tools. Tried in
// this order: EGL on Mesa's surfaceless platform; EGL on the first device of
// EGL_EXT_platform_device that gives the context (the portable way, NVIDIA's
// EGL included); a hidden GLFW window. Logs the one it got. Rendering goes to
// framebuffers of the caller's own.
enum class HeadlessRoute { Any, Surfaceless, Device, Window };

class HeadlessContext {
  public:
    // `only` other than Any tries that route alone (tests of each route).
    bool create(HeadlessRoute only = HeadlessRoute::Any);
    void destroy();
    bool usingEgl() const { return egl; }

    HeadlessContext() = default;
    HeadlessContext(const HeadlessContext&) = delete;
    HeadlessContext& operator=(const HeadlessContext&) = delete;
    ~HeadlessContext() { destroy(); }

  private:
    bool egl = false;
    void* display = nullptr;
    void* context = nullptr;
    void* glfwWindow = nullptr;

    bool adopt(void* eglDisplay);
};
