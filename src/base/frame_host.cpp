#include "base/frame_host.h"

#include "base/clock.h"

void paceNextFrame(FrameHost& host, double& lastTarget) {
    const PaceStep step = paceFrame(lastTarget, host.now());
    lastTarget = step.lastTarget;
    if (!step.wait) {
        return;
    }
    if (step.sleepSeconds > 0.0) {
        host.sleepFor(step.sleepSeconds);
    }
    while (host.now() < step.target) {
    }
}
