#include "render/overlay_manager.h"

#include "render/gl.h"
#include "script/entry_records.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Halo around the image's alpha: the strongest of 48 taps on four rings, the
// nearer rings weighing more, squared for a soft falloff.
const char* const kGlowFS = R"(
#version 330 core
in vec2 v_uv;

uniform sampler2D u_tex;
uniform vec2 u_tex_size;
uniform float u_pad_px;
uniform float u_radius_px;
uniform vec3 u_glow_color;
uniform float u_glow_amp;

out vec4 frag_color;

const int RINGS = 4;
const int DIRS = 12;

float tap(vec2 uv, vec2 offset) {
    vec2 s = uv + offset;
    if (s.x < 0.0 || s.x > 1.0 || s.y < 0.0 || s.y > 1.0) {
        return 0.0;
    }
    return texture(u_tex, s).a;
}

void main() {
    vec2 padded = u_tex_size + 2.0 * u_pad_px;
    vec2 tex_uv = (v_uv * padded - u_pad_px) / u_tex_size;
    vec2 texel = 1.0 / u_tex_size;

    float halo = 0.0;
    for (int r = 1; r <= RINGS; ++r) {
        float rad = u_radius_px * float(r) / float(RINGS);
        float w = 1.0 - float(r - 1) / float(RINGS);
        for (int k = 0; k < DIRS; ++k) {
            float angle = 6.2831853 * float(k) / float(DIRS);
            vec2 offset = vec2(cos(angle), sin(angle)) * rad * texel;
            halo = max(halo, tap(tex_uv, offset) * w);
        }
    }
    // Solid interiors count as lit.
    halo = max(halo, tap(tex_uv, vec2(0.0)));
    halo = clamp(halo, 0.0, 1.0);
    halo = halo * halo;

    float a = halo * u_glow_amp;
    frag_color = vec4(u_glow_color * a, a);
}
)";

// The top 24 bits of the state as a value in [0, 1).
float unitFromState(std::uint32_t s) {
    return static_cast<float>(s >> 8) * (1.0f / 16777216.0f);
}

std::uint32_t nextState(std::uint32_t s) {
    return s * 1664525u + 1013904223u;
}

std::string entryPath(const OverlayEntry& entry) {
    return std::string(entry.path, strnlen(entry.path, sizeof entry.path));
}

// Everything the script may change without a reload; travel state stays.
void refreshFromEntry(OverlaySprite& sprite, const OverlayEntry& entry) {
    sprite.x = entry.x;
    sprite.y = entry.y;
    sprite.start = entry.start;
    sprite.end = entry.end;
    sprite.fadeIn = entry.fadeIn;
    sprite.fadeOut = entry.fadeOut;
    sprite.drift = entry.drift;
    sprite.travelSpeed = entry.travelSpeed;
    sprite.travelX = entry.travelX;
    sprite.travelY = entry.travelY;
    sprite.glow = entry.glow;
    sprite.glowColor = entry.glowColor;
    sprite.glowGain = entry.glowGain;
    sprite.glowRadius = entry.glowRadius;
    sprite.glowInt = entry.glowInt;
}

OverlaySprite spriteFromEntry(const OverlayEntry& entry) {
    OverlaySprite sprite;
    refreshFromEntry(sprite, entry);
    sprite.path = entryPath(entry);
    sprite.id = entry.id;
    return sprite;
}

// Native size on success; a failed load leaves the sprite 0 x 0 and undrawn.
void loadImage(OverlaySprite& sprite) {
    if (sprite.path.empty()) {
        return;
    }
    if (!sprite.texture.loadNamed(sprite.path.c_str(), false)) {
        return;
    }
    if (sprite.width <= 0.0f) {
        sprite.width = static_cast<float>(sprite.texture.width);
    }
    if (sprite.height <= 0.0f) {
        sprite.height = static_cast<float>(sprite.texture.height);
    }
}

} // namespace

float overlayOpacity(const OverlaySprite& sprite, double t) {
    if (t < sprite.start || t > sprite.end) {
        return 0.0f;
    }
    // The min is taken before narrowing so a tiny fade cannot overflow a float.
    float a = 1.0f;
    if (sprite.fadeIn > 0.0f) {
        a = static_cast<float>(std::min(1.0, (t - sprite.start) / sprite.fadeIn));
    }
    if (sprite.fadeOut > 0.0f) {
        a = static_cast<float>(std::min(static_cast<double>(a), (sprite.end - t) / sprite.fadeOut));
    }
    return std::clamp(a, 0.0f, 1.0f);
}

double glowRamp(const OverlaySprite& sprite) {
    const double hold = (sprite.end - sprite.fadeOut) - (sprite.start + sprite.fadeIn);
    if (!(hold > 0.0)) {
        return 0.0;
    }
    return std::min(0.4, hold * 0.5);
}

float glowEnvelope(const OverlaySprite& sprite, double t) {
    const double hs = sprite.start + sprite.fadeIn;
    const double he = sprite.end - sprite.fadeOut;
    if (!(he - hs > 0.0) || !(hs < t && t < he)) {
        return 0.0f;
    }
    const double ramp = glowRamp(sprite);
    const double e = std::min((t - hs) / ramp, (he - t) / ramp);
    return static_cast<float>(std::clamp(e, 0.0, 1.0));
}

void travelStep(OverlaySprite& sprite, double t) {
    if (!sprite.travelStarted) {
        sprite.travelLast = t;
        sprite.travelPos = {0.0f, 0.0f};
        sprite.travelStarted = true;
        const std::uint32_t s1 = static_cast<std::uint32_t>(sprite.id) * 93762557u + 1109331305u;
        const std::uint32_t s2 = nextState(s1);
        sprite.rng = s2;
        sprite.travelTarget = {unitFromState(s1) * sprite.travelX,
                               unitFromState(s2) * sprite.travelY};
    }

    float step = static_cast<float>(t - sprite.travelLast) * sprite.travelSpeed;
    sprite.travelLast = t;
    // Time running backwards (a loop jump), a long stall or a bad speed moves nothing.
    if (!(step >= 0.0f && step <= 1000.0f)) {
        step = 0.0f;
    }

    const float dx = sprite.travelTarget[0] - sprite.travelPos[0];
    const float dy = sprite.travelTarget[1] - sprite.travelPos[1];
    const float dist = std::sqrt(dx * dx + dy * dy);
    if (dist <= step || dist < 0.0001f) {
        sprite.travelPos = sprite.travelTarget;
        const std::uint32_t s1 = nextState(sprite.rng);
        const std::uint32_t s2 = nextState(s1);
        sprite.rng = s2;
        sprite.travelTarget = {unitFromState(s1) * sprite.travelX,
                               unitFromState(s2) * sprite.travelY};
        return;
    }
    sprite.travelPos[0] += dx / dist * step;
    sprite.travelPos[1] += dy / dist * step;
}

bool OverlayManager::drawn(const OverlaySprite& sprite, double time) const {
    return spriteShader.program != 0 && quad.vao != 0 && time >= sprite.start &&
           time <= sprite.end && overlayOpacity(sprite, time) > 0.0f && sprite.texture.id != 0;
}

void OverlayManager::restartTravel() {
    for (OverlaySprite& sprite : sprites) {
        sprite.travelStarted = false;
    }
}

void OverlayManager::stepTravel(double time) {
    for (OverlaySprite& sprite : sprites) {
        if (sprite.drift == 3 && drawn(sprite, time)) {
            travelStep(sprite, time);
        }
    }
}

void OverlayManager::build(const DemoScript& script) {
    for (OverlaySprite& sprite : sprites) {
        sprite.texture.release();
    }
    sprites.clear();
    sprites.reserve(script.overlays.size());
    for (const OverlayEntry& entry : script.overlays) {
        sprites.push_back(spriteFromEntry(entry));
    }
}

bool OverlayManager::init(int width, int height) {
    proj = spriteProjection(width, height);
    if (!spriteShader.load(kSpriteVS, kSpriteFS)) {
        return false;
    }
    if (!glowShader.load(kSpriteVS, kGlowFS)) {
        return false;
    }
    quad.init();
    for (OverlaySprite& sprite : sprites) {
        loadImage(sprite);
    }
    return true;
}

void OverlayManager::update(const DemoScript& script) {
    const auto make = [](const OverlayEntry& entry) {
        OverlaySprite sprite = spriteFromEntry(entry);
        loadImage(sprite);
        return std::optional<OverlaySprite>(std::move(sprite));
    };
    const auto refresh = [](OverlaySprite& sprite, const OverlayEntry& entry) {
        refreshFromEntry(sprite, entry);
        std::string path = entryPath(entry);
        if (path != sprite.path) {
            // Stored even if the load fails, so a missing file is tried only once.
            sprite.path = std::move(path);
            sprite.texture.release();
            sprite.width = 0.0f;
            sprite.height = 0.0f;
            loadImage(sprite);
        }
    };
    syncRecords(sprites, script.overlays, make, refresh,
                [](OverlaySprite& sprite) { sprite.texture.release(); });
}

void OverlayManager::render(double time, float treble) {
    // After a failed init there is nothing sensible to draw with.
    if (sprites.empty() || spriteShader.program == 0 || quad.vao == 0) {
        return;
    }
    spriteShader.use();
    spriteShader.setMat4("u_proj", proj.data());
    spriteShader.setInt("u_tex", 0);
    spriteShader.setVec2("u_uv_offset", 0.0f, 0.0f);
    spriteShader.setVec2("u_uv_scale", 1.0f, 1.0f);

    const float tf = static_cast<float>(time);
    const float p1 = 0.71f * tf + 1.1f;
    const float p2 = 0.31f * tf;
    const float p3 = 0.23f * tf + 0.5f;
    const float p4 = 0.53f * tf;
    const float q1 = 1.3f * tf + 0.7f;
    const float q2 = 0.5f * tf;
    const float q3 = 0.42f * tf + 1.0f;
    const float q4 = 0.9f * tf;

    for (OverlaySprite& sprite : sprites) {
        if (!drawn(sprite, time)) {
            continue;
        }
        const float a = overlayOpacity(sprite, time);

        float dx = 0.0f;
        float dy = 0.0f;
        switch (sprite.drift) {
        case 1:
            dx = 1.5f * std::sin(p1) + 3.5f * std::sin(p2);
            dy = 3.0f * std::cos(p3) + 1.5f * std::cos(p4);
            break;
        case 2:
            dx = 12.0f * std::sin(q1) + 28.0f * std::sin(q2);
            dy = 22.0f * std::cos(q3) + 10.0f * std::cos(q4);
            break;
        case 3:
            travelStep(sprite, time);
            dx = sprite.travelPos[0];
            dy = sprite.travelPos[1];
            break;
        default:
            break;
        }

        if (sprite.glow) {
            drawGlow(sprite, dx, dy, time, treble);
        }

        const Mat4 model = spriteModel(sprite.x + dx, sprite.y + dy, sprite.width, sprite.height);
        spriteShader.setMat4("u_model", model.data());
        spriteShader.setVec4("u_color", 1.0f, 1.0f, 1.0f, a);
        sprite.texture.bind(0);
        quad.draw();
    }
}

void OverlayManager::drawGlow(const OverlaySprite& sprite, float dx, float dy, double t,
                              float treble) {
    const float e = glowEnvelope(sprite, t);
    if (e <= 0.0f || sprite.glowRadius <= 0.0f || glowShader.program == 0) {
        return;
    }
    const float pulse = std::clamp(treble * sprite.glowGain, 0.0f, 1.0f);
    const float amp = pulse * sprite.glowInt * e;
    const float r = sprite.glowRadius;

    glowShader.use();
    glowShader.setMat4("u_proj", proj.data());
    glowShader.setInt("u_tex", 0);
    glowShader.setVec2("u_uv_offset", 0.0f, 0.0f);
    glowShader.setVec2("u_uv_scale", 1.0f, 1.0f);
    glowShader.setVec2("u_tex_size", sprite.width, sprite.height);
    glowShader.setFloat("u_pad_px", r);
    glowShader.setFloat("u_radius_px", r);
    glowShader.setVec3("u_glow_color", sprite.glowColor[0], sprite.glowColor[1],
                       sprite.glowColor[2]);
    glowShader.setFloat("u_glow_amp", amp);
    const Mat4 model = spriteModel(sprite.x + dx - r, sprite.y + dy - r, sprite.width + 2.0f * r,
                                   sprite.height + 2.0f * r);
    glowShader.setMat4("u_model", model.data());

    sprite.texture.bind(0);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    quad.draw();
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    spriteShader.use();
}

void OverlayManager::release() {
    for (OverlaySprite& sprite : sprites) {
        sprite.texture.release();
    }
    quad.release();
    spriteShader.release();
    glowShader.release();
}
