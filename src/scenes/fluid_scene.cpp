#include "scenes/fluid_scene.h"

#include "render/gl.h"
#include "render/shaders.h"

#include <string>

namespace {

const char* const kAdvectUniforms = R"(
#version 330 core
uniform sampler2D u_vel;
uniform vec2 u_resolution;
uniform float u_time;
uniform float u_dt;
uniform float u_audio_bass;
uniform float u_audio_treble;
out vec4 frag_color;

)";

// Where the two dye pumps are; the velocity and the dye passes must agree.
const char* const kPumpCentres = R"(
vec2 leftPumpCentre(float t) {
    return vec2(0.30 + 0.10 * sin(0.19 * t), 0.50 + 0.12 * cos(0.17 * t));
}

vec2 rightPumpCentre(float t) {
    return vec2(0.70 + 0.10 * cos(0.23 * t), 0.50 + 0.12 * sin(0.21 * t));
}
)";

const char* const kAdvectMain = R"(
vec2 chaosPumpCentre(float t) {
    return vec2(0.50 + 0.22 * sin(1.4 * t), 0.50 + 0.18 * cos(1.1 * t));
}

// Counter-clockwise swirl around c, fading with a Gaussian of sharpness k.
// Distances stay in texture coordinates, so pumps are wider than tall.
vec2 swirl(vec2 uv, vec2 c, float k) {
    vec2 d = uv - c;
    float w = exp(-k * dot(d, d));
    return vec2(-d.y, d.x) * w;
}

void main() {
    vec2 uv = gl_FragCoord.xy / u_resolution;
    // Semi-Lagrangian back-advection.
    vec2 vel = texture(u_vel, uv).rg;
    vec2 back = clamp(uv - vel * u_dt, 0.0, 1.0);
    vec2 nv = texture(u_vel, back).rg * 0.998;
    float bb = 1.0 + 4.0 * u_audio_bass;
    nv += swirl(uv, leftPumpCentre(u_time), 130.0) * bb * 0.18;
    nv -= swirl(uv, rightPumpCentre(u_time), 130.0) * bb * 0.18;
    nv += swirl(uv, chaosPumpCentre(u_time), 220.0) * u_audio_treble * 0.22;
    frag_color = vec4(nv, 0.0, 1.0);
}
)";

const char* const kDivergenceFS = R"(
#version 330 core
uniform sampler2D u_vel;
uniform vec2 u_resolution;
out vec4 frag_color;

void main() {
    vec2 uv = gl_FragCoord.xy / u_resolution;
    vec2 px = 1.0 / u_resolution;
    float l = texture(u_vel, uv - vec2(px.x, 0.0)).r;
    float r = texture(u_vel, uv + vec2(px.x, 0.0)).r;
    float b = texture(u_vel, uv - vec2(0.0, px.y)).g;
    float t = texture(u_vel, uv + vec2(0.0, px.y)).g;
    frag_color = vec4(0.5 * (r - l + t - b), 0.0, 0.0, 1.0);
}
)";

const char* const kPressureFS = R"(
#version 330 core
uniform sampler2D u_pressure;
uniform sampler2D u_divergence;
uniform vec2 u_resolution;
out vec4 frag_color;

// One Jacobi step of the pressure Poisson equation.
void main() {
    vec2 uv = gl_FragCoord.xy / u_resolution;
    vec2 px = 1.0 / u_resolution;
    float pl = texture(u_pressure, uv - vec2(px.x, 0.0)).r;
    float pr = texture(u_pressure, uv + vec2(px.x, 0.0)).r;
    float pb = texture(u_pressure, uv - vec2(0.0, px.y)).r;
    float pt = texture(u_pressure, uv + vec2(0.0, px.y)).r;
    float dv = texture(u_divergence, uv).r;
    frag_color = vec4((pl + pr + pb + pt - dv) * 0.25, 0.0, 0.0, 1.0);
}
)";

const char* const kGradientFS = R"(
#version 330 core
uniform sampler2D u_vel;
uniform sampler2D u_pressure;
uniform vec2 u_resolution;
out vec4 frag_color;

// Subtracting the pressure gradient leaves a divergence-free field.
void main() {
    vec2 uv = gl_FragCoord.xy / u_resolution;
    vec2 px = 1.0 / u_resolution;
    vec2 vel = texture(u_vel, uv).rg;
    float pl = texture(u_pressure, uv - vec2(px.x, 0.0)).r;
    float pr = texture(u_pressure, uv + vec2(px.x, 0.0)).r;
    float pb = texture(u_pressure, uv - vec2(0.0, px.y)).r;
    float pt = texture(u_pressure, uv + vec2(0.0, px.y)).r;
    vel -= 0.5 * vec2(pr - pl, pt - pb);
    frag_color = vec4(vel, 0.0, 1.0);
}
)";

const char* const kDyeUniforms = R"(
#version 330 core
uniform sampler2D u_dye;
uniform sampler2D u_vel;
uniform vec2 u_resolution;
uniform float u_time;
uniform float u_dt;
uniform float u_audio_bass;
uniform float u_audio_treble;
out vec4 frag_color;

)";

const char* const kDyeMain = R"(
vec3 hsv2rgb(float h, float s, float v) {
    vec3 p = abs(fract(h + vec3(1.0, 2.0 / 3.0, 1.0 / 3.0)) * 6.0 - 3.0);
    return v * mix(vec3(1.0), clamp(p - 1.0, 0.0, 1.0), s);
}

float squaredDistance(vec2 a, vec2 b) {
    vec2 d = a - b;
    return dot(d, d);
}

void main() {
    vec2 uv = gl_FragCoord.xy / u_resolution;
    // Back-advect dye.
    vec2 vel = texture(u_vel, uv).rg;
    vec2 back = clamp(uv - vel * u_dt, 0.0, 1.0);
    vec3 col = texture(u_dye, back).rgb * 0.997;
    float bb = 1.0 + 3.0 * u_audio_bass;
    float hue = fract(0.06 * u_time + 0.35 * u_audio_treble);
    float r1 = squaredDistance(uv, leftPumpCentre(u_time));
    float r2 = squaredDistance(uv, rightPumpCentre(u_time));
    col += hsv2rgb(hue, 1.0, 1.0) * exp(-220.0 * r1) * bb * 0.18;
    col += hsv2rgb(fract(hue + 0.5), 1.0, 1.0) * exp(-220.0 * r2) * bb * 0.18;
    frag_color = vec4(clamp(col, 0.0, 1.0), 1.0);
}
)";

const char* const kDisplayFS = R"(
#version 330 core
uniform sampler2D u_dye;
uniform sampler2D u_vel;
uniform vec2 u_resolution;
uniform float u_scene_alpha;
out vec4 frag_color;

void main() {
    vec2 uv = gl_FragCoord.xy / u_resolution;
    vec3 col = texture(u_dye, uv).rgb;
    // Brighten fast-moving regions.
    float spd = length(texture(u_vel, uv).rg) * 2.5;
    col += vec3(0.10, 0.05, 0.14) * spd;
    col = clamp(col, 0.0, 1.0);
    frag_color = vec4(col * u_scene_alpha, u_scene_alpha);
}
)";

const GLfloat kZero[4] = {0.0f, 0.0f, 0.0f, 0.0f};

} // namespace

void FluidScene::init(int w, int h) {
    width = w;
    height = h;
    for (RenderTarget& t : velocity) {
        t.create(w, h, GL_RG16F, GL_RG, GL_FLOAT, GL_LINEAR, GL_CLAMP_TO_EDGE);
    }
    for (RenderTarget& t : pressure) {
        t.create(w, h, GL_R16F, GL_RED, GL_FLOAT, GL_LINEAR, GL_CLAMP_TO_EDGE);
    }
    for (RenderTarget& t : dye) {
        t.create(w, h, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, GL_LINEAR, GL_CLAMP_TO_EDGE);
    }
    divergence.create(w, h, GL_R16F, GL_RED, GL_FLOAT, GL_LINEAR, GL_CLAMP_TO_EDGE);

    // Still fluid and black dye until the first step.
    for (const RenderTarget* t :
         {&velocity[0], &velocity[1], &pressure[0], &pressure[1], &dye[0], &dye[1], &divergence}) {
        glBindFramebuffer(GL_FRAMEBUFFER, t->framebuffer);
        glClearBufferfv(GL_COLOR, 0, kZero);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);

    glGenVertexArrays(1, &vertexArray);
    advectProgram.load(kFullscreenVS,
                       (std::string(kAdvectUniforms) + kPumpCentres + kAdvectMain).c_str());
    divergenceProgram.load(kFullscreenVS, kDivergenceFS);
    pressureProgram.load(kFullscreenVS, kPressureFS);
    gradientProgram.load(kFullscreenVS, kGradientFS);
    dyeProgram.load(kFullscreenVS, (std::string(kDyeUniforms) + kPumpCentres + kDyeMain).c_str());
    displayProgram.load(kFullscreenVS, kDisplayFS);
}

void FluidScene::setAudio(float b, float t) {
    bass = b;
    treble = t;
}

void FluidScene::render(double time, double localTime, float alpha) {
    if (vertexArray == 0) {
        return; // not initialised, or already released
    }
    stepSimulation(time, localTime);
    SavedTarget canvas;
    canvas.capture();
    glBindVertexArray(vertexArray);
    runDisplay(canvas, alpha);
    glActiveTexture(GL_TEXTURE0);
}

void FluidScene::stepSimulation(double time, double) {
    if (vertexArray == 0) {
        return;
    }
    SavedTarget canvas;
    canvas.capture();
    glDisable(GL_BLEND);
    glBindVertexArray(vertexArray);

    const float t = static_cast<float>(time);
    runAdvect(t);
    runDivergence();
    runPressure();
    runGradient();
    runDye(t);
    dyeIndex = 1 - dyeIndex;

    canvas.restore();
    glEnable(GL_BLEND);
    glActiveTexture(GL_TEXTURE0);
}

// The velocity and pressure fields always end a step in their first buffer;
// the dye alternates.
bool FluidScene::saveState(SceneState& out) const {
    return vertexArray != 0 &&
           out.save(velocity[velocityIndex].texture, width, height, 0, GL_RG16F) &&
           out.save(pressure[pressureIndex].texture, width, height, 0, GL_R16F) &&
           out.save(dye[dyeIndex].texture, width, height, 0, GL_RGBA8);
}

void FluidScene::restoreState(const SceneState& state) {
    if (vertexArray == 0 || state.images.size() != 3) {
        return;
    }
    state.restore(0, velocity[velocityIndex].texture);
    state.restore(1, pressure[pressureIndex].texture);
    state.restore(2, dye[dyeIndex].texture);
}

void FluidScene::runAdvect(float time) const {
    const int v = velocityIndex;
    velocity[1 - v].bind();
    advectProgram.use();
    velocity[v].bindTexture(0);
    advectProgram.setInt("u_vel", 0);
    advectProgram.setVec2("u_resolution", static_cast<float>(width), static_cast<float>(height));
    advectProgram.setFloat("u_time", time);
    advectProgram.setFloat("u_dt", kStep);
    advectProgram.setFloat("u_audio_bass", bass);
    advectProgram.setFloat("u_audio_treble", treble);
    drawFullscreenTriangle();
}

void FluidScene::runDivergence() const {
    divergence.bind();
    divergenceProgram.use();
    velocity[1 - velocityIndex].bindTexture(0);
    divergenceProgram.setInt("u_vel", 0);
    divergenceProgram.setVec2("u_resolution", static_cast<float>(width),
                              static_cast<float>(height));
    drawFullscreenTriangle();
}

void FluidScene::runPressure() {
    // Warm-started from last frame's solution; an even count lands back in
    // pressure[pressureIndex].
    static_assert(kPressureIterations % 2 == 0);
    pressureProgram.use();
    pressureProgram.setInt("u_pressure", 0);
    pressureProgram.setInt("u_divergence", 1);
    pressureProgram.setVec2("u_resolution", static_cast<float>(width), static_cast<float>(height));
    int q = pressureIndex;
    for (int i = 0; i < kPressureIterations; ++i) {
        pressure[1 - q].bind();
        pressure[q].bindTexture(0);
        divergence.bindTexture(1);
        drawFullscreenTriangle();
        q = 1 - q;
    }
}

void FluidScene::runGradient() const {
    const int v = velocityIndex;
    velocity[v].bind();
    gradientProgram.use();
    velocity[1 - v].bindTexture(0);
    pressure[pressureIndex].bindTexture(1);
    gradientProgram.setInt("u_vel", 0);
    gradientProgram.setInt("u_pressure", 1);
    gradientProgram.setVec2("u_resolution", static_cast<float>(width), static_cast<float>(height));
    drawFullscreenTriangle();
}

void FluidScene::runDye(float time) const {
    const int d = dyeIndex;
    dye[1 - d].bind();
    dyeProgram.use();
    dye[d].bindTexture(0);
    velocity[velocityIndex].bindTexture(1);
    dyeProgram.setInt("u_dye", 0);
    dyeProgram.setInt("u_vel", 1);
    dyeProgram.setVec2("u_resolution", static_cast<float>(width), static_cast<float>(height));
    dyeProgram.setFloat("u_time", time);
    dyeProgram.setFloat("u_dt", kStep);
    dyeProgram.setFloat("u_audio_bass", bass);
    dyeProgram.setFloat("u_audio_treble", treble);
    drawFullscreenTriangle();
}

void FluidScene::runDisplay(const SavedTarget& canvas, float alpha) const {
    canvas.restore();
    glEnable(GL_BLEND);
    displayProgram.use();
    dye[dyeIndex].bindTexture(0);
    velocity[velocityIndex].bindTexture(1);
    displayProgram.setInt("u_dye", 0);
    displayProgram.setInt("u_vel", 1);
    displayProgram.setVec2("u_resolution", static_cast<float>(width), static_cast<float>(height));
    displayProgram.setFloat("u_scene_alpha", alpha);
    drawFullscreenTriangle();
}

void FluidScene::release() {
    advectProgram.release();
    divergenceProgram.release();
    pressureProgram.release();
    gradientProgram.release();
    dyeProgram.release();
    displayProgram.release();
    for (int i = 0; i < 2; ++i) {
        velocity[i].release();
        pressure[i].release();
        dye[i].release();
    }
    divergence.release();
    if (vertexArray != 0) {
        glDeleteVertexArrays(1, &vertexArray);
        vertexArray = 0;
    }
}
