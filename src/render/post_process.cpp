#include "render/post_process.h"

#include "base/log.h"
#include "core/asset_archive.h"
#include "render/gl.h"
#include "render/shaders.h"

#include <climits>

namespace {

const char* const kOverlayMaskName = "assets/textures/overlay.png";

// Final pass: chromatic split on the bass, rare glitch bursts, optional
// 16-colour quantisation, then the full-screen mask.
const char* const kPresentFS = R"(
#version 330 core
uniform sampler2D u_tex;
uniform sampler2D u_overlay;
uniform vec2 u_screen_res;
uniform float u_time;
uniform float u_bass;
uniform int u_palette;

out vec4 frag_color;

const vec3 PALETTE[16] = vec3[16](
    vec3(0.000, 0.000, 0.000),
    vec3(1.000, 1.000, 1.000),
    vec3(0.506, 0.200, 0.220),
    vec3(0.459, 0.808, 0.784),
    vec3(0.557, 0.235, 0.592),
    vec3(0.337, 0.675, 0.302),
    vec3(0.180, 0.173, 0.608),
    vec3(0.929, 0.945, 0.443),
    vec3(0.557, 0.314, 0.161),
    vec3(0.333, 0.220, 0.000),
    vec3(0.769, 0.424, 0.443),
    vec3(0.290, 0.290, 0.290),
    vec3(0.482, 0.482, 0.482),
    vec3(0.663, 1.000, 0.624),
    vec3(0.439, 0.427, 0.922),
    vec3(0.698, 0.698, 0.698));

float rand(vec2 p) {
    return fract(sin(dot(p, vec2(12.9898, 78.233))) * 43758.5453);
}

// Centre of the grid cell of the given size that holds p.
vec2 cell(vec2 p, vec2 size) {
    return floor(p / size) * size + size * 0.5;
}

// One value per frame: about one 3 s window in six flares up and decays.
float burstEnvelope() {
    float bucket = floor(u_time / 3.0);
    if (rand(vec2(bucket, bucket * 0.61 + 7.0)) > 0.16) {
        return 0.0;
    }
    float local = fract(u_time / 3.0);
    return exp(-local * 8.0) * smoothstep(0.0, 0.05, local);
}

// Per-cell yes/no for a glitch, re-rolled speed times a second.
bool trigger(vec2 c, float speed, float q) {
    float bucket = floor(u_time * speed);
    float r = rand(c * 13.7 + bucket * 0.61);
    float decision = round(mix(mix(r, 1.0, q - 0.5), 0.0, (1.0 - q) * 0.5));
    return decision >= 0.5;
}

vec2 displaceBlocks(vec2 guv, float prob) {
    vec2 size = vec2(0.24, 0.30);
    vec2 c = cell(guv, size);
    if (!trigger(c, 7.0, prob * 0.5)) {
        return guv;
    }
    float bucket = floor(u_time * 7.0);
    vec2 seed = c * 9.13 + bucket * 0.71;
    vec2 offset = floor(vec2(rand(seed), rand(seed + 0.27)) * 5.0 - 2.0);
    return guv + offset * size;
}

vec2 jitterBlocky(vec2 guv, float prob) {
    vec2 c = cell(guv, vec2(0.10, 0.12));
    if (!trigger(c + 5.0, 11.0 * 1.7, (prob * 0.3) * 0.6)) {
        return guv;
    }
    float grain = 0.012;
    vec2 g = cell(guv, vec2(grain));
    float bucket = floor(u_time * 11.0);
    vec2 seed = g * 5.21 + bucket * 0.37;
    vec2 offset = round(vec2(rand(seed), rand(seed + 0.11)) * 2.0 - 1.0);
    return g + offset * grain;
}

vec3 chromaticSplit(vec2 guv) {
    vec2 delta = (guv - vec2(0.5)) * (0.002 + u_bass * 0.032);
    float r = texture(u_tex, guv - delta).r;
    float g = texture(u_tex, guv).g;
    float b = texture(u_tex, guv + delta).b;
    return vec3(r, g, b);
}

vec3 tearChannel(vec3 colour, vec2 guv, float prob) {
    vec2 size = vec2(0.30, 0.16);
    vec2 c = cell(guv, size);
    if (!trigger(c + 67.0, 8.0, prob * 0.5)) {
        return colour;
    }
    float bucket = floor(u_time * 8.0);
    vec2 seed = c * 21.7 + bucket * 0.47;
    vec2 offset = (vec2(rand(seed), rand(seed + 0.19)) * 2.0 - 1.0) * size * 0.5;
    vec3 torn = texture(u_tex, guv + offset).rgb;
    float pick = floor(rand(seed + 0.41) * 3.0);
    if (pick < 0.5) {
        colour.r = torn.r;
    } else if (pick < 1.5) {
        colour.g = torn.g;
    } else {
        colour.b = torn.b;
    }
    return colour;
}

// Nearest entry; a tie keeps the lower index.
vec3 quantise(vec3 colour) {
    vec3 best = PALETTE[0];
    vec3 d = colour - best;
    float bestDist = dot(d, d);
    for (int i = 1; i < 16; ++i) {
        d = colour - PALETTE[i];
        float dist = dot(d, d);
        if (dist < bestDist) {
            bestDist = dist;
            best = PALETTE[i];
        }
    }
    return best;
}

vec3 stripes(vec3 colour, vec2 uv, float prob) {
    vec2 size = vec2(0.6, 0.05);
    vec2 c = cell(uv, size);
    if (!trigger(c + 31.0, 9.0, (prob * 0.25) * 0.5)) {
        return colour;
    }
    vec2 local = mod(uv, size) / size;
    float band = floor(local.y * 6.0);
    return colour * mix(0.15, 1.6, mod(band, 2.0));
}

void main() {
    vec2 uv = gl_FragCoord.xy / u_screen_res;
    float prob = burstEnvelope() * 0.45;

    vec2 guv = uv;
    if (prob > 0.0) {
        guv = displaceBlocks(guv, prob);
        guv = jitterBlocky(guv, prob);
    }

    vec3 colour = chromaticSplit(guv);
    if (prob > 0.0) {
        colour = tearChannel(colour, guv, prob);
    }

    vec3 best = colour;
    if (u_palette != 0) {
        best = quantise(colour);
    }
    if (prob > 0.0) {
        best = stripes(best, uv, prob);
    }

    vec3 mask = texture(u_overlay, uv).rgb;
    frag_color = vec4(best * mask, 1.0);
}
)";

} // namespace

bool PostProcess::init(int canvasW, int canvasH, int screenW, int screenH) {
    canvasWidth = canvasW;
    canvasHeight = canvasH;
    screenWidth = screenW;
    screenHeight = screenH;

    // Hard pixels when scaled up.
    if (!canvas.create(canvasWidth, canvasHeight, GL_RGBA, GL_RGBA, GL_UNSIGNED_BYTE, GL_NEAREST,
                       GL_CLAMP_TO_EDGE)) {
        logLine(stderr, "[PostProcess] FBO incomplete\n");
        return false;
    }
    glGenVertexArrays(1, &vertexArray);

    if (!program.load(kFullscreenVS, kPresentFS)) {
        return false;
    }
    program.use();
    program.setInt("u_tex", 0);
    program.setInt("u_overlay", 1);
    resize(screenWidth, screenHeight);

    if (!loadOverlayMask()) {
        makeWhiteMask();
    }
    return true;
}

void PostProcess::resize(int screenW, int screenH) {
    screenWidth = screenW;
    screenHeight = screenH;
    program.use();
    program.setVec2("u_screen_res", static_cast<float>(screenWidth),
                    static_cast<float>(screenHeight));
}

bool PostProcess::loadOverlayMask() {
    std::size_t size = 0;
    const unsigned char* bytes = AssetArchive::find(kOverlayMaskName, &size);
    if (bytes != nullptr && size <= static_cast<std::size_t>(INT32_MAX)) {
        return overlay.load_mem(bytes, static_cast<std::int32_t>(size), true);
    }
    return overlay.load(kOverlayMaskName, true);
}

void PostProcess::makeWhiteMask() {
    // A neutral mask: multiplying by white leaves the picture as it is.
    static const unsigned char kWhite[4] = {255, 255, 255, 255};
    overlay.width = 1;
    overlay.height = 1;
    glGenTextures(1, &overlay.id);
    glBindTexture(GL_TEXTURE_2D, overlay.id);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, kWhite);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void PostProcess::begin() const {
    glBindFramebuffer(GL_FRAMEBUFFER, canvas.framebuffer);
    glViewport(0, 0, canvasWidth, canvasHeight);
}

void PostProcess::end() const {
    glBindFramebuffer(GL_FRAMEBUFFER, outputFramebuffer);
    glViewport(0, 0, screenWidth, screenHeight);
}

void PostProcess::present(float time, float bass, bool palette) {
    glDisable(GL_BLEND);
    program.use();
    program.setFloat("u_time", time);
    program.setFloat("u_bass", bass);
    program.setInt("u_palette", palette ? 1 : 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, canvas.texture);
    overlay.bind(1);
    glBindVertexArray(vertexArray);
    glDrawArrays(GL_TRIANGLES, 0, 3);
    glEnable(GL_BLEND);
}

void PostProcess::release() {
    overlay.release();
    program.release();
    if (vertexArray != 0) {
        glDeleteVertexArrays(1, &vertexArray);
        vertexArray = 0;
    }
    canvas.release();
}
