#include "scenes/smoke_scene.h"

#include "base/log.h"
#include "render/gl.h"
#include "render/render_target.h"
#include "render/shaders.h"

#include <cmath>
#include <string>

namespace {

// Every simulation pass addresses one cell of the current slice.
const char* const kSimPrelude = R"(
#version 330 core
uniform vec3 u_grid;
uniform float u_z;

out vec4 frag_color;

vec3 cell_uvw() {
    return vec3(gl_FragCoord.xy / u_grid.xy, u_z);
}

vec3 step_x() {
    return vec3(1.0 / u_grid.x, 0.0, 0.0);
}

vec3 step_y() {
    return vec3(0.0, 1.0 / u_grid.y, 0.0);
}

vec3 step_z() {
    return vec3(0.0, 0.0, 1.0 / u_grid.z);
}
)";

const char* const kCurlFS = R"(
uniform sampler3D u_vel;

void main() {
    vec3 uvw = cell_uvw();
    vec3 vL = texture(u_vel, uvw - step_x()).xyz;
    vec3 vR = texture(u_vel, uvw + step_x()).xyz;
    vec3 vB = texture(u_vel, uvw - step_y()).xyz;
    vec3 vT = texture(u_vel, uvw + step_y()).xyz;
    vec3 vK = texture(u_vel, uvw - step_z()).xyz;
    vec3 vF = texture(u_vel, uvw + step_z()).xyz;
    float cx = 0.5 * (vT.z - vB.z) - 0.5 * (vF.y - vK.y);
    float cy = 0.5 * (vF.x - vK.x) - 0.5 * (vR.z - vL.z);
    float cz = 0.5 * (vR.y - vL.y) - 0.5 * (vT.x - vB.x);
    frag_color = vec4(cx, cy, cz, 0.0);
}
)";

const char* const kVelocityFS = R"(
uniform sampler3D u_vel;
uniform sampler3D u_vort;
uniform sampler3D u_dens;
uniform float u_dt;
uniform float u_audio_bass;

float vorticity_length(vec3 uvw) {
    return length(texture(u_vort, uvw).xyz);
}

void main() {
    vec3 uvw = cell_uvw();
    vec3 vel = texture(u_vel, uvw).xyz;
    vec3 back = clamp(uvw - vel * u_dt, 0.0, 1.0);
    vec3 nv = texture(u_vel, back).xyz * 0.997;

    // Vorticity confinement: push along the swirl to keep small eddies alive.
    vec3 omega = texture(u_vort, uvw).xyz;
    float oL = vorticity_length(uvw - step_x());
    float oR = vorticity_length(uvw + step_x());
    float oB = vorticity_length(uvw - step_y());
    float oT = vorticity_length(uvw + step_y());
    float oK = vorticity_length(uvw - step_z());
    float oF = vorticity_length(uvw + step_z());
    vec3 grad = 0.5 * vec3(oR - oL, oT - oB, oF - oK);
    vec3 n = grad / (length(grad) + 1e-5);
    float confinement = 14.0 * (1.0 + 0.6 * u_audio_bass);
    nv += cross(n, omega) * confinement * u_dt;

    // Buoyancy: heat lifts, smoke weighs.
    vec2 dens = texture(u_dens, uvw).rg;
    nv.y += (6.0 * dens.g - 1.0 * dens.r) * u_dt;

    frag_color = vec4(nv, 0.0);
}
)";

const char* const kDivergenceFS = R"(
uniform sampler3D u_vel;

void main() {
    vec3 uvw = cell_uvw();
    float L = texture(u_vel, uvw - step_x()).x;
    float R = texture(u_vel, uvw + step_x()).x;
    float B = texture(u_vel, uvw - step_y()).y;
    float T = texture(u_vel, uvw + step_y()).y;
    float K = texture(u_vel, uvw - step_z()).z;
    float F = texture(u_vel, uvw + step_z()).z;
    frag_color = vec4(0.5 * ((R - L) + (T - B) + (F - K)), 0.0, 0.0, 1.0);
}
)";

const char* const kPressureFS = R"(
uniform sampler3D u_pressure;
uniform sampler3D u_divergence;

float pressure_at(vec3 uvw) {
    return texture(u_pressure, uvw).r;
}

void main() {
    vec3 uvw = cell_uvw();
    float pL = pressure_at(uvw - step_x());
    float pR = pressure_at(uvw + step_x());
    float pB = pressure_at(uvw - step_y());
    float pT = pressure_at(uvw + step_y());
    float pK = pressure_at(uvw - step_z());
    float pF = pressure_at(uvw + step_z());
    float dv = texture(u_divergence, uvw).r;
    frag_color = vec4((pL + pR + pB + pT + pK + pF - dv) / 6.0, 0.0, 0.0, 1.0);
}
)";

const char* const kGradientFS = R"(
uniform sampler3D u_vel;
uniform sampler3D u_pressure;

float pressure_at(vec3 uvw) {
    return texture(u_pressure, uvw).r;
}

void main() {
    vec3 uvw = cell_uvw();
    float pL = pressure_at(uvw - step_x());
    float pR = pressure_at(uvw + step_x());
    float pB = pressure_at(uvw - step_y());
    float pT = pressure_at(uvw + step_y());
    float pK = pressure_at(uvw - step_z());
    float pF = pressure_at(uvw + step_z());
    vec3 vel = texture(u_vel, uvw).xyz;
    vel -= 0.5 * vec3(pR - pL, pT - pB, pF - pK);
    frag_color = vec4(vel, 0.0);
}
)";

const char* const kDensityFS = R"(
uniform sampler3D u_dens;
uniform sampler3D u_vel;
uniform float u_dt;
uniform float u_time;
uniform float u_audio_bass;

float source_pattern(vec2 xz, float t) {
    return sin(1.7 * xz.x + 0.9 * t) * sin(1.3 * xz.y - 0.7 * t)
         + 0.6 * sin(2.9 * xz.x - 1.4 * t + 2.0) * sin(2.3 * xz.y + 1.1 * t);
}

// 1 at the floor, falling to 0 at 16 % of the height (a falling edge, so the
// polynomial is written out).
float floor_band(float y) {
    float t = clamp((0.16 - y) / 0.16, 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

void main() {
    vec3 uvw = cell_uvw();
    vec3 vel = texture(u_vel, uvw).xyz;
    vec3 back = clamp(uvw - vel * u_dt, 0.0, 1.0);
    vec2 dens = texture(u_dens, back).rg;

    // Density decays slowly, temperature faster; both fade near the top.
    float topFade = mix(1.0, 0.9, smoothstep(0.75, 1.0, uvw.y));
    float r = dens.r * 0.992 * topFade;
    float g = dens.g * 0.985 * topFade;

    float n = source_pattern(uvw.xz * 3.0, u_time);
    float src = floor_band(uvw.y) * smoothstep(0.4, 0.6, n);
    float inj = src * (1.0 + 1.5 * u_audio_bass);
    r += 0.018 * inj;
    g += 0.020 * inj;

    frag_color = vec4(clamp(r, 0.0, 3.0), clamp(g, 0.0, 3.0), 0.0, 1.0);
}
)";

const char* const kDisplayFS = R"(
#version 330 core
uniform sampler3D u_dens;
uniform float u_time;
uniform float u_scene_alpha;
uniform vec2 u_resolution;
uniform float u_audio_treble;
uniform vec3 u_smoke_color;
uniform vec3 u_ambient_color;
uniform vec3 u_light_color;
uniform vec3 u_cam;
uniform float u_fov;
uniform vec3 u_light_dir;
uniform float u_shadow_k;
uniform float u_light_pow;

out vec4 frag_color;

const vec3 kBoxMin = vec3(-3.0, -2.5, 0.4);
const vec3 kBoxSize = vec3(6.0, 5.0, 5.0);
const float kStep = 0.15;

float hash12(vec2 q) {
    return fract(sin(dot(q, vec2(12.9898, 78.233))) * 43758.5453);
}

float sample_raw(vec3 p) {
    vec3 uvw = (p - kBoxMin) / kBoxSize;
    if (any(lessThan(uvw, vec3(0.0))) || any(greaterThan(uvw, vec3(1.0)))) {
        return 0.0;
    }
    return texture(u_dens, uvw).r;
}

// Smoke between p and the light, p itself excluded.
float shadow_density(vec3 p, vec3 light) {
    float sum = 0.0;
    for (int i = 1; i <= 6; i++) {
        sum += sample_raw(p + light * (0.5 * float(i)));
    }
    return sum;
}

void main() {
    vec2 uv = (gl_FragCoord.xy - 0.5 * u_resolution) / u_resolution.y;
    float time = u_time;
    vec3 ro = u_cam + vec3(0.3 * sin(0.07 * time), 0.10 * cos(0.05 * time), 0.0);
    vec3 rd = normalize(vec3(uv.x, uv.y, u_fov));
    vec3 light = normalize(u_light_dir);
    vec3 glow = u_light_color * u_light_pow * (1.0 + 0.4 * u_audio_treble);

    // Jittered start: fixed sample distances would show rings.
    float t = 0.1 + hash12(gl_FragCoord.xy) * kStep * 0.5;
    vec3 colour = vec3(0.0);
    float alpha = 0.0;
    for (int i = 0; i < 56; i++) {
        if (alpha > 0.97) {
            break;
        }
        vec3 p = ro + rd * t;
        float den = sample_raw(p);
        if (den > 0.01) {
            float trans = exp(-shadow_density(p, light) * u_shadow_k);
            vec3 lit = u_ambient_color + glow * trans;
            float a = clamp(den, 0.0, 1.0);
            colour += (1.0 - alpha) * a * u_smoke_color * lit;
            alpha += (1.0 - alpha) * a;
        }
        t += kStep;
        if (t > 8.5) {
            break;
        }
    }
    frag_color = vec4(colour * u_scene_alpha, alpha * u_scene_alpha);
}
)";

constexpr float kDt = 1.0f / 240.0f;
constexpr int kPressureIterations = 20;

std::uint32_t createVolume(GLenum internalFormat, GLenum format, const float* zeros) {
    GLuint volume = 0;
    glGenTextures(1, &volume);
    glBindTexture(GL_TEXTURE_3D, volume);
    glTexImage3D(GL_TEXTURE_3D, 0, static_cast<GLint>(internalFormat), SmokeScene::kGridX,
                 SmokeScene::kGridY, SmokeScene::kGridZ, 0, format, GL_FLOAT, zeros);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_R, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_3D, 0);
    return volume;
}

void deleteVolume(std::uint32_t& volume) {
    if (volume != 0) {
        glDeleteTextures(1, &volume);
        volume = 0;
    }
}

void bindVolume(int unit, std::uint32_t volume) {
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
    glBindTexture(GL_TEXTURE_3D, volume);
}

void setGrid(const Shader& program) {
    program.setVec3("u_grid", static_cast<float>(SmokeScene::kGridX),
                    static_cast<float>(SmokeScene::kGridY), static_cast<float>(SmokeScene::kGridZ));
}

void setColour(const Shader& program, const char* name, const Float3& c) {
    program.setVec3(name, c[0], c[1], c[2]);
}

bool hasDirection(const Float3& v) {
    const float lengthSquared = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
    return std::isfinite(lengthSquared) && lengthSquared > 1e-12f;
}

} // namespace

Float3 smokeLightDirection(const Float3& lightDir) {
    if (hasDirection(lightDir)) {
        return lightDir;
    }
    return kSmokeLightDir;
}

void SmokeScene::init(int w, int h) {
    width = w;
    height = h;
    {
        // One zeroed staging buffer, large enough for the widest format.
        const std::vector<float> zeros(static_cast<std::size_t>(kGridX) * kGridY * kGridZ * 4,
                                       0.0f);
        for (int i = 0; i < 2; ++i) {
            velocityVolumes[i] = createVolume(GL_RGBA16F, GL_RGBA, zeros.data());
            densityVolumes[i] = createVolume(GL_RG16F, GL_RG, zeros.data());
            pressureVolumes[i] = createVolume(GL_R16F, GL_RED, zeros.data());
        }
        divergenceVolume = createVolume(GL_R16F, GL_RED, zeros.data());
        vorticityVolume = createVolume(GL_RGBA16F, GL_RGBA, zeros.data());
    }
    glGenFramebuffers(1, &framebuffer);
    glGenVertexArrays(1, &vertexArray);

    const char* const bodies[6] = {kCurlFS,     kVelocityFS, kDivergenceFS,
                                   kPressureFS, kGradientFS, kDensityFS};
    for (int i = 0; i < 6; ++i) {
        programs[i].load(kFullscreenVS, (std::string(kSimPrelude) + bodies[i]).c_str());
    }
    programs[kDisplay].load(kFullscreenVS, kDisplayFS);
}

void SmokeScene::setAudio(float b, float t) {
    bass = b;
    treble = t;
}

void SmokeScene::setPalette(bool enabled, const Float3& low, const Float3& mid,
                            const Float3& high) {
    if (enabled) {
        palette = {low, mid, high};
    }
}

void SmokeScene::setSmokeParams(bool enabled, const Float3& newCam, float newFov,
                                const Float3& newLightDir, float newShadow, float newLightPow) {
    if (!enabled) {
        return;
    }
    // Called every frame while an entry runs: say it once per bad value.
    if (!hasDirection(newLightDir) && hasDirection(lightDir)) {
        logLine(stderr,
                "[SmokeScene] light direction (%g, %g, %g) has no direction, using the "
                "default\n",
                static_cast<double>(newLightDir[0]), static_cast<double>(newLightDir[1]),
                static_cast<double>(newLightDir[2]));
    }
    cam = newCam;
    fov = newFov;
    lightDir = newLightDir;
    shadow = newShadow;
    lightPow = newLightPow;
}

void SmokeScene::resetSettings() {
    palette = kDefaultPalette;
    cam = kSmokeCam;
    fov = kSmokeFov;
    lightDir = kSmokeLightDir;
    shadow = kSmokeShadow;
    lightPow = kSmokeLightPow;
}

void SmokeScene::slicePass(const Shader& program, std::uint32_t target) const {
    if (program.program == 0) {
        return; // leave the target as it was rather than draw undefined values
    }
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, kGridX, kGridY);
    for (int k = 0; k < kGridZ; ++k) {
        glFramebufferTextureLayer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, target, 0, k);
        program.setFloat("u_z", (static_cast<float>(k) + 0.5f) / static_cast<float>(kGridZ));
        glDrawArrays(GL_TRIANGLES, 0, 3);
    }
}

void SmokeScene::step(double time) {
    if (framebuffer == 0) {
        return; // never initialised
    }
    SavedTarget canvas;
    canvas.capture();
    glDisable(GL_BLEND);
    glBindVertexArray(vertexArray);
    const int v = velocityIndex;
    const int d = densityIndex;
    const int p = pressureIndex;

    const Shader& curl = programs[kCurl];
    curl.use();
    bindVolume(0, velocityVolumes[v]);
    curl.setInt("u_vel", 0);
    setGrid(curl);
    slicePass(curl, vorticityVolume);

    const Shader& velocity = programs[kVelocity];
    velocity.use();
    bindVolume(0, velocityVolumes[v]);
    bindVolume(1, vorticityVolume);
    bindVolume(2, densityVolumes[d]);
    velocity.setInt("u_vel", 0);
    velocity.setInt("u_vort", 1);
    velocity.setInt("u_dens", 2);
    setGrid(velocity);
    velocity.setFloat("u_dt", kDt);
    velocity.setFloat("u_audio_bass", bass);
    slicePass(velocity, velocityVolumes[1 - v]);

    const Shader& divergence = programs[kDivergence];
    divergence.use();
    bindVolume(0, velocityVolumes[1 - v]);
    divergence.setInt("u_vel", 0);
    setGrid(divergence);
    slicePass(divergence, divergenceVolume);

    // Jacobi from last frame's solution; an even count ends in pressure[p].
    const Shader& pressure = programs[kPressure];
    pressure.use();
    int q = p;
    for (int i = 0; i < kPressureIterations; ++i) {
        bindVolume(0, pressureVolumes[q]);
        bindVolume(1, divergenceVolume);
        pressure.setInt("u_pressure", 0);
        pressure.setInt("u_divergence", 1);
        setGrid(pressure);
        slicePass(pressure, pressureVolumes[1 - q]);
        q = 1 - q;
    }

    const Shader& gradient = programs[kGradient];
    gradient.use();
    bindVolume(0, velocityVolumes[1 - v]);
    bindVolume(1, pressureVolumes[p]);
    gradient.setInt("u_vel", 0);
    gradient.setInt("u_pressure", 1);
    setGrid(gradient);
    slicePass(gradient, velocityVolumes[v]);

    const Shader& density = programs[kDensity];
    density.use();
    bindVolume(0, densityVolumes[d]);
    bindVolume(1, velocityVolumes[v]);
    density.setInt("u_dens", 0);
    density.setInt("u_vel", 1);
    setGrid(density);
    density.setFloat("u_dt", kDt);
    density.setFloat("u_time", static_cast<float>(time));
    density.setFloat("u_audio_bass", bass);
    slicePass(density, densityVolumes[1 - d]);
    densityIndex = 1 - d;

    for (int unit = 2; unit >= 0; --unit) {
        bindVolume(unit, 0);
    }
    canvas.restore();
    glEnable(GL_BLEND);
}

void SmokeScene::display(double time, float alpha) const {
    const Shader& display = programs[kDisplay];
    if (display.program == 0) {
        return;
    }
    const Float3 light = smokeLightDirection(lightDir);
    display.use();
    bindVolume(0, densityVolumes[densityIndex]);
    display.setInt("u_dens", 0);
    display.setFloat("u_time", static_cast<float>(time));
    display.setFloat("u_scene_alpha", alpha);
    display.setVec2("u_resolution", static_cast<float>(width), static_cast<float>(height));
    display.setFloat("u_audio_treble", treble);
    setColour(display, "u_smoke_color", palette.low);
    setColour(display, "u_ambient_color", palette.mid);
    setColour(display, "u_light_color", palette.high);
    setColour(display, "u_cam", cam);
    display.setFloat("u_fov", fov);
    setColour(display, "u_light_dir", light);
    display.setFloat("u_shadow_k", shadow);
    display.setFloat("u_light_pow", lightPow);
    glBindVertexArray(vertexArray);
    glDrawArrays(GL_TRIANGLES, 0, 3);
    glBindVertexArray(0);
    bindVolume(0, 0);
}

void SmokeScene::render(double time, double, float alpha) {
    if (framebuffer == 0) {
        return;
    }
    step(time);
    display(time, alpha);
}

void SmokeScene::stepSimulation(double time, double) {
    step(time);
}

// Divergence and vorticity are made afresh at every step; velocity and
// pressure end each step in the buffer they started in, density alternates.
bool SmokeScene::saveState(SceneState& out) const {
    return framebuffer != 0 &&
           out.save(velocityVolumes[velocityIndex], kGridX, kGridY, kGridZ, GL_RGBA16F) &&
           out.save(densityVolumes[densityIndex], kGridX, kGridY, kGridZ, GL_RG16F) &&
           out.save(pressureVolumes[pressureIndex], kGridX, kGridY, kGridZ, GL_R16F);
}

void SmokeScene::restoreState(const SceneState& state) {
    if (framebuffer == 0 || state.images.size() != 3) {
        return;
    }
    state.restore(0, velocityVolumes[velocityIndex]);
    state.restore(1, densityVolumes[densityIndex]);
    state.restore(2, pressureVolumes[pressureIndex]);
}

std::vector<float> SmokeScene::readDensity() const {
    std::vector<float> values(static_cast<std::size_t>(kGridX) * kGridY * kGridZ * 2);
    if (densityVolume() == 0) {
        return {};
    }
    // Slice by slice through the scene's framebuffer, which WebGL 2 can do too
    // (it cannot read a texture directly).
    GLint bound = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    std::vector<float> slice(static_cast<std::size_t>(kGridX) * kGridY * 4);
    float* out = values.data();
    for (int k = 0; k < kGridZ; ++k) {
        glFramebufferTextureLayer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, densityVolume(), 0, k);
        glReadPixels(0, 0, kGridX, kGridY, GL_RGBA, GL_FLOAT, slice.data());
        for (std::size_t i = 0; i < slice.size(); i += 4) {
            *out++ = slice[i];
            *out++ = slice[i + 1];
        }
    }
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(bound));
    return values;
}

void SmokeScene::release() {
    for (Shader& program : programs) {
        program.release();
    }
    for (int i = 0; i < 2; ++i) {
        deleteVolume(velocityVolumes[i]);
        deleteVolume(densityVolumes[i]);
        deleteVolume(pressureVolumes[i]);
    }
    deleteVolume(divergenceVolume);
    deleteVolume(vorticityVolume);
    if (framebuffer != 0) {
        glDeleteFramebuffers(1, &framebuffer);
        framebuffer = 0;
    }
    if (vertexArray != 0) {
        glDeleteVertexArrays(1, &vertexArray);
        vertexArray = 0;
    }
}
