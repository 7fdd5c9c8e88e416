#pragma once

struct GLFWwindow;
class Engine;

// Where an in-engine editor would attach. Inert here: it never opens, never
// takes the keyboard and never asks for a seek.
class EditorHook {
  public:
    bool init(GLFWwindow* window) {
        (void)window;
        return true;
    }
    void toggle() {}
    void close() {}
    bool isOpen() const { return false; }
    bool wantsKeyboard() const { return false; }
    void draw(Engine& engine, double time) {
        (void)engine;
        (void)time;
    }
    bool takeSeek(double& seconds) {
        (void)seconds;
        return false;
    }
    void shutdown() {}
};
