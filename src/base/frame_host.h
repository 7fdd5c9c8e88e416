#pragma once

// What the frame loop takes from the outside world: the timer, the key
// presses, the close flag, the buffer swap and sleeping. The demo's host is
// its window; tests drive the same loop with a clock and keys of their own.
class FrameHost {
  public:
    virtual ~FrameHost() = default;
    // Seconds on a monotonic timer.
    virtual double now() = 0;
    // Presses of a GLFW key since the last call for it.
    virtual int takePresses(int key) = 0;
    virtual bool shouldClose() = 0;
    virtual void requestClose() = 0;
    virtual void swapAndPoll() = 0;
    virtual void sleepFor(double seconds) = 0;
    // A host's own work around each frame: before the keys are read, and once
    // the frame at demo time t is swapped.
    virtual void beginFrame() {}
    virtual void endFrame(double /*t*/) {}
};

// Frame pacing at 60 per second without catch-up: sleeps until about 1 ms
// before the next target, then spins on the timer.
void paceNextFrame(FrameHost& host, double& lastTarget);
