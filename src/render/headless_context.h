#pragma once

// A GL 3.3 core context without a window, for tests and offline tools: EGL on
// Mesa's surfaceless platform where available, else a hidden GLFW window.
// Rendering goes to framebuffers of the caller's own.
class HeadlessContext {
  public:
    bool create();
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
};
