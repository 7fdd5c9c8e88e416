#pragma once

#include "base/types.h"
#include "scenes/scene_state.h"

// A full-picture effect drawn into the canvas. Slot order matters to nobody
// outside, but it is kept stable: destructor, init, setAudio, setPalette,
// setSmokeParams, update, render, release.
class IScene {
  public:
    // Frees the scene's own containers only; GL objects go in release().
    virtual ~IScene() = default;
    virtual void init(int width, int height) = 0;
    virtual void setAudio(float bass, float treble) = 0;
    virtual void setPalette(bool enabled, const Float3& low, const Float3& mid,
                            const Float3& high) {
        (void)enabled;
        (void)low;
        (void)mid;
        (void)high;
    }
    virtual void setSmokeParams(bool enabled, const Float3& cam, float fov, const Float3& lightDir,
                                float shadow, float lightPow) {
        (void)enabled;
        (void)cam;
        (void)fov;
        (void)lightDir;
        (void)shadow;
        (void)lightPow;
    }
    virtual void update(double time, double localTime) {
        (void)time;
        (void)localTime;
    }
    virtual void render(double time, double localTime, float alpha) = 0;
    virtual void release() = 0;

    // Back to the colours and values the scene was made with, where
    // setPalette or setSmokeParams leave some for later frames: a tool that
    // rebuilds a frame replays the entries' calls from there.
    virtual void resetSettings() {}

    // A scene whose picture depends on the frames before it. render() is
    // stepSimulation() then the drawing; a tool that rebuilds the state at a
    // time steps without drawing, and keeps copies to go back to. A step
    // reads the audio levels and the times only, never the palette or the
    // smoke values, so those are rebuilt apart from the copies.
    virtual bool simulated() const { return false; }
    virtual void stepSimulation(double time, double localTime) {
        (void)time;
        (void)localTime;
    }
    // Appends copies of the state to `out` (empty first); false when a copy failed.
    virtual bool saveState(SceneState& out) const {
        (void)out;
        return false;
    }
    virtual void restoreState(const SceneState& state) { (void)state; }
};
