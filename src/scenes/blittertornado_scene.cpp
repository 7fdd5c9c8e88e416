#include "scenes/blittertornado_scene.h"

#include "render/gl.h"
#include "render/render_target.h"
#include "render/shaders.h"

namespace {

const char* const kTornadoUpdateFS = R"(
#version 330 core
uniform sampler2D u_prev;
uniform vec2 u_resolution;
uniform float u_time;
uniform int u_frame;
uniform float u_audio_bass;
uniform float u_audio_treble;
uniform float u_rot;
uniform float u_zoom;
uniform float u_seed;
uniform float u_decay;
uniform float u_seed_r;
uniform float u_seed_bass;
uniform float u_seed_treble;
uniform float u_seed_r_bass;
uniform float u_seed_thresh;
uniform float u_min_step;
uniform float u_min_spin;
uniform float u_max_spin;

out vec4 frag_color;

float hash13(vec3 q) {
    q = fract(q * vec3(127.1, 311.7, 74.7));
    q += dot(q, q.zyx + 31.32);
    return fract((q.x + q.y) * q.z);
}

// Where this pixel's content comes from: turned and pulled towards the
// centre, so the picture spirals outwards. The minimum spin and step keep the
// core moving where a pure rotate-and-zoom would stand still.
vec2 warp(vec2 uv, float rotAmount, float zoom) {
    vec2 c = uv - 0.5;
    float r = length(c);
    if (r > 1e-6) {
        float rotEff = min(max(rotAmount, u_min_spin / r), u_max_spin);
        float a = -rotEff;
        c = mat2(cos(a), -sin(a), sin(a), cos(a)) * c;
        float stepLen = max(r - r / zoom, u_min_step);
        float rs = max(r - stepLen, 0.0);
        c = c * rs / r;
    }
    return c + 0.5;
}

float binarise(float v) {
    return v > 0.5 ? 1.0 : 0.0;
}

void main() {
    vec2 p = gl_FragCoord.xy;
    vec2 uv = p / u_resolution;
    float frame = float(u_frame);

    float rotA = u_rot * (1.0 + 0.6 * u_audio_treble);
    float zoomA = u_zoom * (1.0 + 0.010 * u_audio_bass);
    float plane0 = binarise(texture(u_prev, warp(uv, rotA, zoomA)).r);
    float plane1 = binarise(texture(u_prev, warp(uv, 1.45 * rotA, 1.006 * zoomA)).g);

    if (hash13(vec3(p, frame * 1.7)) < u_decay) {
        plane0 = 0.0;
    }
    if (hash13(vec3(p, frame * 1.7 + 91.0)) < u_decay) {
        plane1 = 0.0;
    }

    // Only the level above the threshold feeds a plane; the first steps
    // always seed so the core is not empty before the first beat.
    float rr = length(uv - 0.5);
    float startAdd = u_frame < 6 ? 0.5 : 0.0;
    float seed0 = max(u_audio_bass - u_seed_thresh, 0.0) * u_seed_bass + u_seed + startAdd;
    float seed1 = max(u_audio_treble - u_seed_thresh, 0.0) * u_seed_treble + u_seed + startAdd;
    float seedR = u_seed_r * (1.0 + u_audio_bass * u_seed_r_bass);
    if (rr < seedR) {
        if (hash13(vec3(p, frame * 3.1)) < seed0) {
            plane0 = 1.0;
        }
        if (hash13(vec3(p, frame * 3.1 + 47.0)) < seed1) {
            plane1 = 1.0;
        }
    }
    frag_color = vec4(plane0, plane1, 0.0, 1.0);
}
)";

const char* const kTornadoDisplayFS = R"(
#version 330 core
uniform sampler2D u_state;
uniform vec2 u_resolution;
uniform float u_audio_treble;
uniform float u_scene_alpha;
uniform vec3 u_pal_low;
uniform vec3 u_pal_mid;
uniform vec3 u_pal_high;

out vec4 frag_color;

vec3 plane_colour(bool b0, bool b1) {
    if (b0 && b1) {
        return u_pal_high;
    }
    if (b1) {
        return u_pal_mid;
    }
    if (b0) {
        return u_pal_low;
    }
    return vec3(0.0);
}

void main() {
    vec2 p = gl_FragCoord.xy;
    vec2 uv = p / u_resolution;
    vec4 state = texture(u_state, uv);
    bool b0 = state.r > 0.5;
    bool b1 = state.g > 0.5;

    // Plane 1 only on every other pixel, so its areas mix with plane 0.
    ivec2 pixel = ivec2(floor(p));
    if (((pixel.x + pixel.y) & 1) == 1) {
        b1 = false;
    }

    vec3 colour = plane_colour(b0, b1) * (1.0 + 0.4 * u_audio_treble);
    frag_color = vec4(colour * u_scene_alpha, u_scene_alpha);
}
)";

void setColour(const Shader& shader, const char* name, const Float3& c) {
    shader.setVec3(name, c[0], c[1], c[2]);
}

} // namespace

void BlitterTornadoScene::init(int w, int h) {
    width = w;
    height = h;
    for (RenderTarget& state : states) {
        state.create(width, height, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, GL_NEAREST, GL_REPEAT);
        state.clear(0.0f, 0.0f, 0.0f, 0.0f);
    }
    glGenVertexArrays(1, &vertexArray);
    updateProgram.load(kFullscreenVS, kTornadoUpdateFS);
    displayProgram.load(kFullscreenVS, kTornadoDisplayFS);
}

void BlitterTornadoScene::setAudio(float b, float t) {
    bass = b;
    treble = t;
}

void BlitterTornadoScene::setPalette(bool enabled, const Float3& low, const Float3& mid,
                                     const Float3& high) {
    if (enabled) {
        palette = {low, mid, high};
    }
}

void BlitterTornadoScene::render(double time, double localTime, float alpha) {
    if (states[0].framebuffer == 0) {
        return; // never initialised
    }
    stepSimulation(time, localTime);
    glBindVertexArray(vertexArray);
    if (displayProgram.program != 0) {
        displayProgram.use();
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, states[current].texture);
        displayProgram.setInt("u_state", 0);
        displayProgram.setVec2("u_resolution", static_cast<float>(width),
                               static_cast<float>(height));
        displayProgram.setFloat("u_audio_treble", treble);
        displayProgram.setFloat("u_scene_alpha", alpha);
        setColour(displayProgram, "u_pal_low", palette.low);
        setColour(displayProgram, "u_pal_mid", palette.mid);
        setColour(displayProgram, "u_pal_high", palette.high);
        glDrawArrays(GL_TRIANGLES, 0, 3);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindVertexArray(0);
}

void BlitterTornadoScene::stepSimulation(double time, double) {
    if (states[0].framebuffer == 0) {
        return;
    }
    SavedTarget canvas;
    canvas.capture();
    glDisable(GL_BLEND);
    glBindVertexArray(vertexArray);
    glViewport(0, 0, width, height);

    const int next = 1 - current;
    glBindFramebuffer(GL_FRAMEBUFFER, states[next].framebuffer);
    if (updateProgram.program != 0) {
        const float h = static_cast<float>(height);
        updateProgram.use();
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, states[current].texture);
        updateProgram.setInt("u_prev", 0);
        updateProgram.setVec2("u_resolution", static_cast<float>(width), h);
        updateProgram.setFloat("u_time", static_cast<float>(time));
        updateProgram.setInt("u_frame", frame);
        updateProgram.setFloat("u_audio_bass", bass);
        updateProgram.setFloat("u_audio_treble", treble);
        updateProgram.setFloat("u_rot", 0.0125f);
        updateProgram.setFloat("u_zoom", 1.049f);
        updateProgram.setFloat("u_seed", 0.01f);
        updateProgram.setFloat("u_decay", 0.003f);
        updateProgram.setFloat("u_seed_r", 0.01f);
        updateProgram.setFloat("u_seed_bass", 0.5f);
        updateProgram.setFloat("u_seed_treble", 0.5f);
        updateProgram.setFloat("u_seed_r_bass", 1.1f);
        updateProgram.setFloat("u_seed_thresh", 0.6f);
        updateProgram.setFloat("u_min_step", 0.5f / h);
        updateProgram.setFloat("u_min_spin", 1.0f / h);
        updateProgram.setFloat("u_max_spin", 0.6f);
        glDrawArrays(GL_TRIANGLES, 0, 3);
    }

    // Restoring the saved viewport too keeps the contract even for a canvas
    // of another size.
    canvas.restore();
    glEnable(GL_BLEND);
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindVertexArray(0);

    frame = frame + 1;
    current = next;
}

bool BlitterTornadoScene::saveState(SceneState& out) const {
    out.counters = {frame};
    return states[0].framebuffer != 0 &&
           out.save(states[current].texture, width, height, 0, GL_RGBA8);
}

void BlitterTornadoScene::restoreState(const SceneState& state) {
    if (states[0].framebuffer == 0 || state.images.size() != 1 || state.counters.size() != 1) {
        return;
    }
    state.restore(0, states[current].texture);
    frame = state.counters[0];
}

void BlitterTornadoScene::release() {
    updateProgram.release();
    displayProgram.release();
    for (RenderTarget& state : states) {
        state.release();
    }
    if (vertexArray != 0) {
        glDeleteVertexArrays(1, &vertexArray);
        vertexArray = 0;
    }
}
