#include "scenes/rd2_scene.h"

#include "render/gl.h"
#include "render/shaders.h"

namespace {

const char* const kBlurXFS = R"(
#version 330 core
uniform sampler2D u_src;
uniform vec2 u_resolution;
out vec4 frag_color;

const float kWeights[9] = float[9](0.05, 0.09, 0.12, 0.15, 0.16, 0.15, 0.12, 0.09, 0.05);

void main() {
    vec2 uv = gl_FragCoord.xy / u_resolution;
    float h = 3.0 / u_resolution.x;
    vec4 sum = vec4(0.0);
    for (int k = -4; k <= 4; ++k) {
        vec2 p = fract(vec2(uv.x + float(k) * h, uv.y));
        sum += texture(u_src, p) * kWeights[k + 4];
    }
    // The weights total 0.98.
    frag_color = vec4(sum.rgb / 0.98, 1.0);
}
)";

const char* const kBlurYFS = R"(
#version 330 core
uniform sampler2D u_src;
uniform vec2 u_resolution;
out vec4 frag_color;

const float kWeights[9] = float[9](0.05, 0.09, 0.12, 0.15, 0.16, 0.15, 0.12, 0.09, 0.05);

void main() {
    vec2 uv = gl_FragCoord.xy / u_resolution;
    float h = 3.0 / u_resolution.y;
    vec4 sum = vec4(0.0);
    for (int k = -4; k <= 4; ++k) {
        vec2 p = fract(vec2(uv.x, uv.y + float(k) * h));
        sum += texture(u_src, p) * kWeights[k + 4];
    }
    frag_color = vec4(sum.rgb / 0.98, 1.0);
}
)";

const char* const kStepFS = R"(
#version 330 core
uniform sampler2D u_rd;
uniform sampler2D u_blur;
uniform vec2 u_resolution;
uniform float u_time;
uniform float u_audio_bass;
uniform int u_frame;
out vec4 frag_color;

// Lengths are measured in screen proportions, not texture coordinates.
vec2 aspect() {
    return vec2(1.0, u_resolution.y / u_resolution.x);
}

float hash13(vec3 q) {
    q = fract(q * vec3(127.1, 311.7, 74.7));
    q += dot(q, q.zyx + 31.32);
    return fract((q.x + q.y) * q.z);
}

float sigmoid(float x) {
    return 2.0 / (1.0 + exp2(-x)) - 1.0;
}

vec2 complexMul(vec2 a, vec2 b) {
    return vec2(a.x * b.x - a.y * b.y, a.x * b.y + a.y * b.x);
}

// Rotates uv about pos by rot, fading out smoothly beyond size.
vec2 vortex(vec2 uv, vec2 pos, float size, float ramp, vec2 rot) {
    vec2 rotated = pos + complexMul((uv - pos) * aspect(), rot) / aspect();
    float cone = max(-16.0, 1.0 - length((uv - pos) * aspect()) / size);
    float strength = 0.5 + 0.5 * sigmoid(ramp * cone);
    return mix(uv, rotated, strength);
}

// Two counter-rotating vortices side by side across the direction of travel.
vec2 vortexPair(vec2 uv, vec2 pos, vec2 vel) {
    float d = 0.3;
    float l = length(vel) * 0.5;
    vec2 p1 = pos;
    vec2 p2 = pos;
    if (l > 0.0) {
        vec2 normal = normalize(vec2(-vel.y, vel.x)) / aspect();
        p1 = pos - normal * d / 2.0;
        p2 = pos + normal * d / 2.0;
    }
    float w = l / d * 2.0;
    vec2 a = vortex(uv, p1, d, 4.0, vec2(cos(w), sin(w)));
    vec2 b = vortex(uv, p2, d, 4.0, vec2(cos(-w), sin(-w)));
    return (a + b) / 2.0;
}

vec4 field(vec2 p) {
    return texture(u_rd, fract(p));
}

vec4 blurred(vec2 p) {
    return texture(u_blur, fract(p));
}

void main() {
    float t = u_time;
    vec2 orig = gl_FragCoord.xy / u_resolution;
    vec2 px = 1.0 / u_resolution;

    // Stirring point on a Lissajous path, faster with the bass.
    vec2 stirPos = vec2(0.5 + 0.30 * cos(0.19 * t), 0.5 + 0.24 * sin(0.13 * t));
    vec2 stirVel = vec2(-0.30 * 0.19 * sin(0.19 * t), 0.24 * 0.13 * cos(0.13 * t));
    stirVel *= 0.4 + 1.8 * u_audio_bass;
    vec2 uv = vortexPair(orig, stirPos, stirVel * aspect() * 1.2);

    vec2 c = gl_FragCoord.xy;
    vec4 n = vec4(hash13(vec3(c * 0.031, 42.0 * t)),
                  hash13(vec3(c * 0.031 + 1.7, 56.0 * t)),
                  hash13(vec3(c * 0.031 + 3.3, 31.0 * t)),
                  hash13(vec3(c * 0.031 + 7.1, 67.0 * t)));

    // Expansion: take the value from up the blurred field's gradient.
    vec4 dx = (blurred(uv + vec2(5.0 * px.x, 0.0)) - blurred(uv - vec2(5.0 * px.x, 0.0))) / 2.0;
    vec4 dy = (blurred(uv + vec2(0.0, 5.0 * px.y)) - blurred(uv - vec2(0.0, 5.0 * px.y))) / 2.0;
    vec2 uvRed = uv + vec2(dx.r, dy.r) * px * 24.0;

    float v = field(uvRed).r + (n.x - 0.5) * 0.012 - 0.0005 + n.y * 0.0003;
    vec2 q = uvRed + (n.xy - 0.5) * px;
    v -= (blurred(q).r - field(q).r) * 0.038;

    // Bass splashes noise in around the stirring point.
    float kick = max(0.0, u_audio_bass - 0.5) * 0.5;
    float r = length((orig - stirPos) * aspect());
    v = mix(v, n.x, kick * exp(-20.0 * r * r));

    if (u_frame < 10) {
        // Seeding: pure noise in every channel.
        frag_color = n;
    } else {
        frag_color = vec4(clamp(v, 0.0, 1.0), 0.0, 0.0, 1.0);
    }
}
)";

const char* const kDisplayFS = R"(
#version 330 core
uniform sampler2D u_rd;
uniform sampler2D u_blur;
uniform vec2 u_resolution;
uniform float u_audio_treble;
uniform float u_scene_alpha;
uniform float u_use_custom_pal;
uniform vec3 u_pal_low;
uniform vec3 u_pal_mid;
uniform vec3 u_pal_high;
out vec4 frag_color;

const float kTau = 6.28318;
const vec3 kPhase = vec3(0.62, 0.78, 0.95);

vec3 paletteColour(float value) {
    if (u_use_custom_pal > 0.5) {
        float t2 = clamp(2.0 * value, 0.0, 2.0);
        if (t2 < 1.0) {
            return mix(u_pal_low, u_pal_mid, t2);
        }
        return mix(u_pal_mid, u_pal_high, t2 - 1.0);
    }
    return 0.5 + 0.3 * cos(kTau * (kPhase + 0.6 * value + 0.4 * 0.5 * u_audio_treble));
}

vec3 iridescence(float gx, float gy) {
    float angle = atan(gy, gx) / kTau + 0.5;
    return 0.5 + 0.5 * cos(kTau * (angle + kPhase));
}

void main() {
    vec2 uv = gl_FragCoord.xy / u_resolution;
    vec2 px = 1.0 / u_resolution;
    vec4 dx = (texture(u_blur, uv + vec2(2.0 * px.x, 0.0)) -
               texture(u_blur, uv - vec2(2.0 * px.x, 0.0))) / 2.0;
    vec4 dy = (texture(u_blur, uv + vec2(0.0, 2.0 * px.y)) -
               texture(u_blur, uv - vec2(0.0, 2.0 * px.y))) / 2.0;
    dx += texture(u_rd, uv + vec2(px.x, 0.0)) - texture(u_rd, uv - vec2(px.x, 0.0));
    dy += texture(u_rd, uv + vec2(0.0, px.y)) - texture(u_rd, uv - vec2(0.0, px.y));

    float gradLen = length(vec2(dx.r, dy.r));
    float value = texture(u_rd, uv + vec2(dx.r, dy.r) * px * 3.0).r;

    vec3 colour = paletteColour(value) * smoothstep(0.05, 0.35, value);
    colour = mix(colour, colour * iridescence(dx.r, dy.r) * 1.2, clamp(2.0 * gradLen, 0.0, 0.3));
    colour = clamp(colour, 0.0, 1.0);
    frag_color = vec4(colour * u_scene_alpha, u_scene_alpha);
}
)";

} // namespace

void Rd2Scene::init(int w, int h) {
    width = w;
    height = h;
    for (RenderTarget* t : {&field[0], &field[1], &blurX, &blurY}) {
        t->create(w, h, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, GL_LINEAR, GL_REPEAT);
        // The very first blur and display read these before any step wrote
        // them: start from black rather than whatever the driver hands out.
        t->clear(0.0f, 0.0f, 0.0f, 0.0f);
    }
    glGenVertexArrays(1, &vertexArray);
    stepProgram.load(kFullscreenVS, kStepFS);
    blurXProgram.load(kFullscreenVS, kBlurXFS);
    blurYProgram.load(kFullscreenVS, kBlurYFS);
    displayProgram.load(kFullscreenVS, kDisplayFS);
}

void Rd2Scene::setAudio(float b, float t) {
    bass = b;
    treble = t;
}

void Rd2Scene::setPalette(bool enabled, const Float3& low, const Float3& mid, const Float3& high) {
    customPalette = enabled;
    if (enabled) {
        paletteLow = low;
        paletteMid = mid;
        paletteHigh = high;
    }
}

void Rd2Scene::render(double time, double localTime, float alpha) {
    if (vertexArray == 0) {
        return; // not initialised, or already released
    }
    stepSimulation(time, localTime);
    SavedTarget canvas;
    canvas.capture();
    glBindVertexArray(vertexArray);
    runDisplay(canvas, current, alpha);
    glActiveTexture(GL_TEXTURE0);
}

void Rd2Scene::stepSimulation(double time, double) {
    if (vertexArray == 0) {
        return;
    }
    SavedTarget canvas;
    canvas.capture();
    glDisable(GL_BLEND);
    glBindVertexArray(vertexArray);

    runBlur(blurXProgram, field[current], blurX);
    runBlur(blurYProgram, blurX, blurY);
    const int next = 1 - current;
    runStep(static_cast<float>(time), next);

    frame += 1;
    current = next;
    canvas.restore();
    glEnable(GL_BLEND);
    glActiveTexture(GL_TEXTURE0);
}

// The blurs are made afresh from the field at every step.
bool Rd2Scene::saveState(SceneState& out) const {
    out.counters = {frame};
    return vertexArray != 0 && out.save(field[current].texture, width, height, 0, GL_RGBA8);
}

void Rd2Scene::restoreState(const SceneState& state) {
    if (vertexArray == 0 || state.images.size() != 1 || state.counters.size() != 1) {
        return;
    }
    state.restore(0, field[current].texture);
    frame = state.counters[0];
}

void Rd2Scene::runBlur(const Shader& program, const RenderTarget& source,
                       const RenderTarget& target) const {
    target.bind();
    program.use();
    source.bindTexture(0);
    program.setInt("u_src", 0);
    program.setVec2("u_resolution", static_cast<float>(width), static_cast<float>(height));
    drawFullscreenTriangle();
}

void Rd2Scene::runStep(float time, int next) const {
    field[next].bind();
    stepProgram.use();
    field[current].bindTexture(0);
    blurY.bindTexture(1);
    stepProgram.setInt("u_rd", 0);
    stepProgram.setInt("u_blur", 1);
    stepProgram.setVec2("u_resolution", static_cast<float>(width), static_cast<float>(height));
    stepProgram.setFloat("u_time", time);
    stepProgram.setFloat("u_audio_bass", bass);
    stepProgram.setInt("u_frame", frame);
    drawFullscreenTriangle();
}

void Rd2Scene::runDisplay(const SavedTarget& canvas, int next, float alpha) const {
    canvas.restore();
    glEnable(GL_BLEND);
    displayProgram.use();
    field[next].bindTexture(0);
    blurY.bindTexture(1);
    displayProgram.setInt("u_rd", 0);
    displayProgram.setInt("u_blur", 1);
    displayProgram.setVec2("u_resolution", static_cast<float>(width), static_cast<float>(height));
    displayProgram.setFloat("u_audio_treble", treble);
    displayProgram.setFloat("u_scene_alpha", alpha);
    displayProgram.setFloat("u_use_custom_pal", customPalette ? 1.0f : 0.0f);
    displayProgram.setVec3("u_pal_low", paletteLow[0], paletteLow[1], paletteLow[2]);
    displayProgram.setVec3("u_pal_mid", paletteMid[0], paletteMid[1], paletteMid[2]);
    displayProgram.setVec3("u_pal_high", paletteHigh[0], paletteHigh[1], paletteHigh[2]);
    drawFullscreenTriangle();
}

void Rd2Scene::release() {
    stepProgram.release();
    blurXProgram.release();
    blurYProgram.release();
    displayProgram.release();
    field[0].release();
    field[1].release();
    blurX.release();
    blurY.release();
    if (vertexArray != 0) {
        glDeleteVertexArrays(1, &vertexArray);
        vertexArray = 0;
    }
}
