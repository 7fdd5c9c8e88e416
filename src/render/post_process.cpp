#include "render/post_process.h"

#include "base/log.h"
#include "core/asset_archive.h"
#include "render/gl.h"
#include "render/shaders.h"

#include <climits>
#include <cmath>
#include <string>
#include <vector>

namespace {

const char* const kOverlayMaskName = "assets/textures/overlay.png";

// The random hash, the burst envelope and the glitches' triggers: shared by
// the final pass, the table of flaring windows and the glitch probe, so that
// all of them compute them alike.
const char* const kBurstGLSL = R"(
uniform float u_time;

float rand(vec2 p) {
    return fract(sin(dot(p, vec2(12.9898, 78.233))) * 43758.5453);
}

// One value per frame: about one 3 s window in six flares up and decays.
float burstEnvelope(float time) {
    float bucket = floor(time / 3.0);
    if (rand(vec2(bucket, bucket * 0.61 + 7.0)) > 0.16) {
        return 0.0;
    }
    float local = fract(time / 3.0);
    return exp(-local * 8.0) * smoothstep(0.0, 0.05, local);
}

// Centre of the grid cell of the given size that holds p.
vec2 cell(vec2 p, vec2 size) {
    return floor(p / size) * size + size * 0.5;
}

// Per-cell yes/no for a glitch, re-rolled speed times a second.
bool trigger(vec2 c, float speed, float q) {
    float bucket = floor(u_time * speed);
    float r = rand(c * 13.7 + bucket * 0.61);
    float decision = round(mix(mix(r, 1.0, q - 0.5), 0.0, (1.0 - q) * 0.5));
    return decision >= 0.5;
}

// Each glitch's grid, and whether it acts in the cell centred on c.
const vec2 DISPLACE_CELL = vec2(0.24, 0.30);
const vec2 JITTER_CELL = vec2(0.10, 0.12);
const vec2 TEAR_CELL = vec2(0.30, 0.16);
const vec2 STRIPE_CELL = vec2(0.6, 0.05);

bool displaceFires(vec2 c, float prob) {
    return trigger(c, 7.0, prob * 0.5);
}

bool jitterFires(vec2 c, float prob) {
    return trigger(c + 5.0, 11.0 * 1.7, (prob * 0.3) * 0.6);
}

bool tearFires(vec2 c, float prob) {
    return trigger(c + 67.0, 8.0, prob * 0.5);
}

bool stripesFire(vec2 c, float prob) {
    return trigger(c + 31.0, 9.0, (prob * 0.25) * 0.5);
}
)";

// Final pass: chromatic split on the bass, rare glitch bursts, optional
// 16-colour quantisation, then the full-screen mask. BURSTS and
// PALETTE_SEARCH leave out code that would contribute nothing: software
// renderers run both sides of a branch on every pixel.
const char* const kPresentFS = R"(
uniform sampler2D u_tex;
uniform sampler2D u_overlay;
uniform sampler2D u_green_mask;
uniform vec2 u_screen_res;
uniform float u_bass;
uniform int u_palette;

out vec4 frag_color;

// Green is read at guv itself, by the caller.
vec3 chromaticSplit(vec2 guv, float g) {
    vec2 delta = (guv - vec2(0.5)) * (0.002 + u_bass * 0.032);
    float r = texture(u_tex, guv - delta).r;
    float b = texture(u_tex, guv + delta).b;
    return vec3(r, g, b);
}

#if BURSTS
vec2 displaceBlocks(vec2 guv, float prob) {
    vec2 c = cell(guv, DISPLACE_CELL);
    if (!displaceFires(c, prob)) {
        return guv;
    }
    float bucket = floor(u_time * 7.0);
    vec2 seed = c * 9.13 + bucket * 0.71;
    vec2 offset = floor(vec2(rand(seed), rand(seed + 0.27)) * 5.0 - 2.0);
    return guv + offset * DISPLACE_CELL;
}

vec2 jitterBlocky(vec2 guv, float prob) {
    vec2 c = cell(guv, JITTER_CELL);
    if (!jitterFires(c, prob)) {
        return guv;
    }
    float grain = 0.012;
    vec2 g = cell(guv, vec2(grain));
    float bucket = floor(u_time * 11.0);
    vec2 seed = g * 5.21 + bucket * 0.37;
    vec2 offset = round(vec2(rand(seed), rand(seed + 0.11)) * 2.0 - 1.0);
    return g + offset * grain;
}

vec3 tearChannel(vec3 colour, vec2 guv, float prob) {
    vec2 c = cell(guv, TEAR_CELL);
    if (!tearFires(c, prob)) {
        return colour;
    }
    float bucket = floor(u_time * 8.0);
    vec2 seed = c * 21.7 + bucket * 0.47;
    vec2 offset = (vec2(rand(seed), rand(seed + 0.19)) * 2.0 - 1.0) * TEAR_CELL * 0.5;
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

vec3 stripes(vec3 colour, vec2 uv, float prob) {
    if (!stripesFire(cell(uv, STRIPE_CELL), prob)) {
        return colour;
    }
    vec2 local = mod(uv, STRIPE_CELL) / STRIPE_CELL;
    float band = floor(local.y * 6.0);
    return colour * mix(0.15, 1.6, mod(band, 2.0));
}
#endif

#if PALETTE_SEARCH
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
#endif

void main() {
    vec2 uv = gl_FragCoord.xy / u_screen_res;
    vec2 guv = uv;
#if BURSTS
    float prob = burstEnvelope(u_time) * 0.45;
    if (prob > 0.0) {
        guv = displaceBlocks(guv, prob);
        guv = jitterBlocky(guv, prob);
    }
#endif

#if GREEN_MASK
    // Without bursts guv is uv, whose texel holds the canvas's green and the
    // mask in one pack.
    vec4 greenMask = texture(u_green_mask, uv);
    vec3 colour = chromaticSplit(guv, greenMask.r);
    vec3 mask = greenMask.gba;
#else
    vec3 colour = chromaticSplit(guv, texture(u_tex, guv).g);
    vec3 mask = texture(u_overlay, uv).rgb;
#endif
#if BURSTS
    if (prob > 0.0) {
        colour = tearChannel(colour, guv, prob);
    }
#endif

    vec3 best = colour;
#if PALETTE_SEARCH
    if (u_palette != 0) {
        best = quantise(colour);
    }
#endif
#if BURSTS
    if (prob > 0.0) {
        best = stripes(best, uv, prob);
    }
#endif

    frag_color = vec4(best * mask, 1.0);
}
)";

// Window k of the table of flaring windows, probed in its middle, where the
// envelope of a flaring window is never 0.
const char* const kFlareTableFS = R"(
out vec4 frag_color;

void main() {
    float window = floor(gl_FragCoord.y) * 64.0 + floor(gl_FragCoord.x);
    float flare = burstEnvelope(window * 3.0 + 1.5) > 0.0 ? 1.0 : 0.0;
    frag_color = vec4(flare, 0.0, 0.0, 1.0);
}
)";

// Fragment (x, y): whether any glitch acts this frame in cell (x, y) of its
// grid over the screen. Where none acts anywhere, nothing moves a glitch's
// later grid off the screen's, and the frame is the one without bursts.
const char* const kGlitchProbeFS = R"(
out vec4 frag_color;

// Cells a pixel centre's floor(uv / size) can reach, with room for rounding.
bool onScreen(vec2 index, vec2 size) {
    return all(lessThan(index * size, vec2(1.001)));
}

vec2 centreOf(vec2 index, vec2 size) {
    return cell((index + 0.5) * size, size);
}

void main() {
    vec2 index = floor(gl_FragCoord.xy);
    float prob = burstEnvelope(u_time) * 0.45;
    bool acts = false;
    if (prob > 0.0) {
        acts = onScreen(index, DISPLACE_CELL) &&
               displaceFires(centreOf(index, DISPLACE_CELL), prob);
        acts = acts || onScreen(index, JITTER_CELL) &&
               jitterFires(centreOf(index, JITTER_CELL), prob);
        acts = acts || onScreen(index, TEAR_CELL) &&
               tearFires(centreOf(index, TEAR_CELL), prob);
        acts = acts || onScreen(index, STRIPE_CELL) &&
               stripesFire(centreOf(index, STRIPE_CELL), prob);
    }
    frag_color = vec4(acts ? 1.0 : 0.0, 0.0, 0.0, 1.0);
}
)";

// Enough cells for the finest grid in each direction (0.10 x 0.05).
constexpr int kProbeWidth = 11;
constexpr int kProbeHeight = 21;

// The canvas's green and the mask, texel for texel, for the final pass
// without bursts: one read where there would be two.
const char* const kPackFS = R"(
uniform sampler2D u_tex;
uniform sampler2D u_overlay;

out vec4 frag_color;

void main() {
    ivec2 texel = ivec2(gl_FragCoord.xy);
    // A 1 x 1 mask (the white fallback) holds for every texel.
    vec3 mask = texelFetch(u_overlay, min(texel, textureSize(u_overlay, 0) - 1), 0).rgb;
    frag_color = vec4(texelFetch(u_tex, texel, 0).g, mask);
}
)";

// The table is 64 x 64 windows: 3 hours 24 minutes of demo time.
constexpr int kFlareTableSide = 64;

const char* const kGlslHead = "\n#version 330 core\n";

std::string presentSource(bool bursts, bool paletteSearch, bool greenMask) {
    const auto define = [](const char* name, bool on) {
        return std::string("#define ") + name + (on ? " 1\n" : " 0\n");
    };
    const std::string defines = define("BURSTS", bursts) + define("PALETTE_SEARCH", paletteSearch) +
                                define("GREEN_MASK", greenMask && !bursts);
    return kGlslHead + defines + kBurstGLSL + kPresentFS;
}

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

    // The mask first: whether it can share a pack with the canvas decides how
    // the programs are built.
    if (!loadOverlayMask()) {
        makeWhiteMask();
    }
    const bool packable = makeGreenMaskPack();
    for (int i = 0; i < kProgramCount; ++i) {
        const std::string fs =
            presentSource((i & kBursts) != 0, (i & kPaletteSearch) != 0, packable);
        if (!programs[i].load(kFullscreenVS, fs.c_str())) {
            return false;
        }
        programs[i].use();
        programs[i].setInt("u_tex", 0);
        programs[i].setInt("u_overlay", 1);
        programs[i].setInt("u_green_mask", 2);
    }
    resize(screenWidth, screenHeight);
    readFlaringWindows();
    makeGlitchProbe();
    return true;
}

bool PostProcess::makeGreenMaskPack() {
    // A 1 x 1 mask (the white fallback) is the same at every texel.
    const bool sameTexels = (overlay.width == canvasWidth && overlay.height == canvasHeight) ||
                            (overlay.width == 1 && overlay.height == 1);
    if (sameTexels &&
        greenMask.create(canvasWidth, canvasHeight, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, GL_NEAREST,
                         GL_CLAMP_TO_EDGE) &&
        packProgram.load(kFullscreenVS, (std::string(kGlslHead) + kPackFS).c_str())) {
        packProgram.use();
        packProgram.setInt("u_tex", 0);
        packProgram.setInt("u_overlay", 1);
        return true;
    }
    // The programs then read the two apart.
    greenMask.release();
    packProgram.release();
    return false;
}

void PostProcess::resize(int screenW, int screenH) {
    screenWidth = screenW;
    screenHeight = screenH;
    for (const Shader& program : programs) {
        program.use();
        program.setVec2("u_screen_res", static_cast<float>(screenWidth),
                        static_cast<float>(screenHeight));
    }
}

void PostProcess::readFlaringWindows() {
    flaringWindows.clear();
    Shader table;
    RenderTarget target;
    if (!table.load(kFullscreenVS, (std::string(kGlslHead) + kBurstGLSL + kFlareTableFS).c_str()) ||
        !target.create(kFlareTableSide, kFlareTableSide, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE,
                       GL_NEAREST, GL_CLAMP_TO_EDGE)) {
        // Without the table every frame takes the full pass: slower, the same pixels.
        table.release();
        target.release();
        return;
    }
    SavedTarget saved;
    saved.capture();
    const bool blending = glIsEnabled(GL_BLEND) == GL_TRUE;
    glDisable(GL_BLEND);
    target.bind();
    table.use();
    glBindVertexArray(vertexArray);
    drawFullscreenTriangle();
    std::vector<unsigned char> rgba(static_cast<std::size_t>(kFlareTableSide) * kFlareTableSide *
                                    4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kFlareTableSide, kFlareTableSide, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    saved.restore();
    if (blending) {
        glEnable(GL_BLEND);
    }
    table.release();
    target.release();
    flaringWindows.resize(rgba.size() / 4);
    for (std::size_t i = 0; i < flaringWindows.size(); ++i) {
        flaringWindows[i] = rgba[i * 4] > 127;
    }
}

void PostProcess::makeGlitchProbe() {
    if (!glitchProbe.create(kProbeWidth, kProbeHeight, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE,
                            GL_NEAREST, GL_CLAMP_TO_EDGE) ||
        !probeProgram.load(kFullscreenVS,
                           (std::string(kGlslHead) + kBurstGLSL + kGlitchProbeFS).c_str())) {
        // Without the probe a flaring window takes the full pass throughout.
        glitchProbe.release();
        probeProgram.release();
    }
}

bool PostProcess::glitchesAct(float time) const {
    if (glitchProbe.framebuffer == 0) {
        return true;
    }
    SavedTarget output;
    output.capture();
    glDisable(GL_BLEND);
    glitchProbe.bind();
    probeProgram.use();
    probeProgram.setFloat("u_time", time);
    glBindVertexArray(vertexArray);
    drawFullscreenTriangle();
    std::vector<unsigned char> rgba(static_cast<std::size_t>(kProbeWidth) * kProbeHeight * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kProbeWidth, kProbeHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    output.restore();
    glEnable(GL_BLEND);
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        if (rgba[i] > 127) {
            return true;
        }
    }
    return false;
}

bool PostProcess::burstsPossible(float time) const {
    const double windows = static_cast<double>(time) / 3.0;
    // The driver's floor(time / 3) may fall on either side of a window's edge.
    const double margin = 1e-5 + std::abs(windows) * 1e-6;
    for (const double w : {std::floor(windows - margin), std::floor(windows + margin)}) {
        if (!(w >= 0.0 && w < static_cast<double>(flaringWindows.size())) ||
            flaringWindows[static_cast<std::size_t>(w)]) {
            return true;
        }
    }
    return false;
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
    // The canvas is finished: the pack of its green and the mask is made now,
    // apart from the output's clear and final pass.
    if (greenMask.framebuffer != 0) {
        glDisable(GL_BLEND);
        greenMask.bind();
        packProgram.use();
        bindInputs();
        drawFullscreenTriangle();
        glEnable(GL_BLEND);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, outputFramebuffer);
    glViewport(0, 0, screenWidth, screenHeight);
}

void PostProcess::present(float time, float bass, bool palette) {
    // The probe waits for the GPU, so it runs only inside flaring windows.
    draw(time, bass, palette, burstsPossible(time) && glitchesAct(time));
}

void PostProcess::presentFull(float time, float bass, bool palette) {
    draw(time, bass, palette, true);
}

void PostProcess::draw(float time, float bass, bool palette, bool bursts) {
    glDisable(GL_BLEND);
    if (!bursts && greenMask.framebuffer != 0) {
        greenMask.bindTexture(2);
    }
    bindInputs();
    const Shader& program = programs[(bursts ? kBursts : 0) | (palette ? kPaletteSearch : 0)];
    program.use();
    program.setFloat("u_time", time);
    program.setFloat("u_bass", bass);
    program.setInt("u_palette", palette ? 1 : 0);
    drawFullscreenTriangle();
    glEnable(GL_BLEND);
}

void PostProcess::bindInputs() const {
    glBindVertexArray(vertexArray);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, canvas.texture);
    overlay.bind(1);
}

void PostProcess::release() {
    overlay.release();
    for (Shader& program : programs) {
        program.release();
    }
    packProgram.release();
    greenMask.release();
    probeProgram.release();
    glitchProbe.release();
    flaringWindows.clear();
    if (vertexArray != 0) {
        glDeleteVertexArrays(1, &vertexArray);
        vertexArray = 0;
    }
    canvas.release();
}
