#pragma once

#include "support/gl_test.h"

// A scene initialised for the 320 x 180 canvas, silent, and a canvas target
// of its own, bound and cleared to an opaque grey level.
template <typename Scene> class SceneTest : public GlTest {
  protected:
    explicit SceneTest(float clearGrey = 0.0f) : clearGrey(clearGrey) {}

    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        scene.init(320, 180);
        scene.setAudio(0.0f, 0.0f);
        canvas.create(320, 180);
        canvas.clear(clearGrey, clearGrey, clearGrey, 1.0f);
    }
    void TearDown() override {
        scene.release();
        canvas.release();
    }

    float clearGrey;
    Scene scene;
    TestTarget canvas;
};
