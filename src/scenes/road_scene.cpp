#include "scenes/road_scene.h"

#include "base/log.h"
#include "render/gl.h"

#include <cmath>

namespace {

const char* const kRoadFS = R"(
#version 330 core
#define ROAD_ROWS 180
uniform vec2 u_resolution;
uniform float u_scene_alpha;
uniform float u_audio_bass;
uniform float u_audio_treble;
uniform float u_horizon;
uniform float u_bg_offset;
uniform float u_depth_const;
uniform float u_fog_start;
uniform float u_fog_end;
uniform vec3 u_pal_low;
uniform vec3 u_pal_mid;
uniform vec3 u_pal_high;
uniform float u_row_offset[ROAD_ROWS];
uniform float u_row_scale[ROAD_ROWS];
uniform float u_row_stripe[ROAD_ROWS];
out vec4 frag_color;

const vec3 kGrassLight = vec3(0.045, 0.100, 0.115);
const vec3 kGrassDark = vec3(0.034, 0.082, 0.098);
const vec3 kRoadLight = vec3(0.118, 0.108, 0.158);
const vec3 kRoadDark = vec3(0.097, 0.090, 0.138);
const vec3 kRumbleRed = vec3(0.620, 0.180, 0.320);
const vec3 kRumbleWhite = vec3(0.800, 0.800, 0.860);
const vec3 kLaneMark = vec3(0.780, 0.780, 0.850);

float hillRidge(float px) {
    return 11.0 * sin(0.012 * px) + 5.0 * sin(0.029 * px + 1.7) + 2.5 * sin(0.071 * px + 4.1);
}

vec3 skyColour(vec2 frag) {
    float t = clamp(frag.y / max(u_horizon, 1.0), 0.0, 1.0);
    vec3 glow = u_pal_high + u_audio_treble * vec3(0.12, 0.05, 0.10);
    vec3 sky = mix(u_pal_mid, glow, t * t);
    float hillTop = u_horizon - 16.0 - hillRidge(frag.x + u_bg_offset);
    if (frag.y > hillTop) {
        return u_pal_low;
    }
    return sky;
}

vec3 groundColour(vec2 frag) {
    int row = clamp(int(frag.y), 0, ROAD_ROWS - 1);
    float centre = u_resolution.x * 0.5 + u_row_offset[row];
    float hw = u_row_scale[row];
    float st = u_row_stripe[row];
    float ad = abs(frag.x - centre);
    float rumbleWidth = 0.16 * hw;
    float laneHalfWidth = 0.045 * hw;
    float lanePosition = 0.5 * hw;

    vec3 colour;
    if (ad > hw + rumbleWidth) {
        colour = mix(kGrassLight, kGrassDark, st);
    } else if (ad > hw) {
        colour = mix(kRumbleRed, kRumbleWhite, st) + 0.15 * u_audio_bass;
    } else {
        colour = mix(kRoadLight, kRoadDark, st);
        if (abs(ad - lanePosition) < laneHalfWidth && st > 0.5) {
            colour = kLaneMark;
        }
    }
    float z = u_depth_const / max(frag.y - u_horizon, 0.5);
    float fog = smoothstep(u_fog_start, u_fog_end, z);
    return mix(colour, u_pal_high, fog);
}

void main() {
    // Rows counted from the top, like the CPU tables.
    vec2 frag = vec2(gl_FragCoord.x, u_resolution.y - gl_FragCoord.y);
    vec3 colour;
    if (frag.y <= u_horizon) {
        colour = skyColour(frag);
    } else {
        colour = groundColour(frag);
    }
    frag_color = vec4(colour * u_scene_alpha, u_scene_alpha);
}
)";

const char* const kRoadSpriteVS = R"(
#version 330 core
layout(location = 0) in vec2 a_pos;
layout(location = 1) in vec2 a_uv;
uniform mat4 u_proj;
uniform mat4 u_model;
out vec2 v_uv;

void main() {
    gl_Position = u_proj * u_model * vec4(a_pos, 0.0, 1.0);
    v_uv = a_uv;
}
)";

const char* const kRoadSpriteFS = R"(
#version 330 core
in vec2 v_uv;
uniform sampler2D u_tex;
uniform vec4 u_color;
uniform vec3 u_fog_color;
uniform float u_fog;
out vec4 frag_color;

void main() {
    vec4 t = texture(u_tex, v_uv) * u_color;
    // Distant sprites fade to fog-coloured silhouettes; alpha is kept.
    t.rgb = mix(t.rgb, u_fog_color, u_fog);
    frag_color = t;
}
)";

const char* const kCompositeFS = R"(
#version 330 core
uniform sampler2D u_tex;
uniform vec2 u_resolution;
uniform float u_scene_alpha;
out vec4 frag_color;

void main() {
    vec3 colour = texture(u_tex, gl_FragCoord.xy / u_resolution).rgb;
    frag_color = vec4(colour * u_scene_alpha, u_scene_alpha);
}
)";

const char* const kSpriteNames[3] = {
    "assets/textures/sprite_tree.png",
    "assets/textures/sprite_rock.png",
    "assets/textures/ghost_sprite.png",
};
const char* const kVehicleName = "assets/textures/quexmob_sprite.png";

} // namespace

void RoadScene::init(int w, int h) {
    width = w;
    height = h;
    roadProgram.load(kFullscreenVS, kRoadFS);
    glGenVertexArrays(1, &vertexArray);
    compositeProgram.load(kFullscreenVS, kCompositeFS);
    offscreen.create(w, h, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, GL_NEAREST, GL_CLAMP_TO_EDGE);
    spriteProgram.load(kRoadSpriteVS, kRoadSpriteFS);
    quad.init();
    projection = spriteProjection(w, h);
    for (int kind = 0; kind < 3; ++kind) {
        spriteTextures[kind].loadNamed(kSpriteNames[kind], true);
    }
    vehicleTexture.loadNamed(kVehicleName, true);

    lapLength = roadLapLength();
    headingTotal = buildRoadHeadingTable(heading);
    buildRoadSprites(sprites);
}

void RoadScene::setAudio(float b, float t) {
    bass = b;
    treble = t;
}

void RoadScene::setPalette(bool enabled, const Float3& low, const Float3& mid, const Float3& high) {
    // Without a palette the colours last given (or the defaults) stay.
    if (enabled) {
        palette = {low, mid, high};
    }
}

void RoadScene::render(double, double localTime, float alpha) {
    if (vertexArray == 0) {
        return; // not initialised, or already released
    }
    float cam = static_cast<float>(kRoadSpeed * localTime);
    if (!std::isfinite(cam)) {
        logLine(stderr, "[Road] local time out of range, showing the lap start\n");
        cam = 0.0f;
    }
    horizon = kRoadHorizon;
    computeRoadRows(cam, horizon, rows);

    SavedTarget canvas;
    canvas.capture();
    offscreen.bind();
    glDisable(GL_BLEND);
    // The hills drift with the heading the track has turned through.
    drawRoad(2.0f * roadHeadingAt(heading, headingTotal, cam));
    drawSprites(cam);
    composite(canvas, alpha);
    glActiveTexture(GL_TEXTURE0);
}

void RoadScene::drawRoad(float bgOffset) {
    const Shader& p = roadProgram;
    p.use();
    p.setFloat("u_bg_offset", bgOffset);
    p.setFloat("u_scene_alpha", 1.0f);
    p.setVec2("u_resolution", static_cast<float>(width), static_cast<float>(height));
    p.setFloat("u_audio_bass", bass);
    p.setFloat("u_audio_treble", treble);
    p.setFloat("u_horizon", horizon);
    p.setFloat("u_depth_const", kRoadDepthConst);
    p.setFloat("u_fog_start", kRoadFogStart);
    p.setFloat("u_fog_end", kRoadFogEnd);
    p.setVec3("u_pal_low", palette.low[0], palette.low[1], palette.low[2]);
    p.setVec3("u_pal_mid", palette.mid[0], palette.mid[1], palette.mid[2]);
    p.setVec3("u_pal_high", palette.high[0], palette.high[1], palette.high[2]);
    p.setFloatArray("u_row_offset", rows.offset, kRoadRows);
    p.setFloatArray("u_row_scale", rows.scale, kRoadRows);
    p.setFloatArray("u_row_stripe", rows.stripe, kRoadRows);
    // Covers every pixel, so the target needs no clear.
    glBindVertexArray(vertexArray);
    drawFullscreenTriangle();
}

void RoadScene::drawSprites(float cam) {
    projectRoadSprites(sprites, rows, cam, lapLength, horizon, width, projected);

    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    spriteProgram.use();
    spriteProgram.setMat4("u_proj", projection.data());
    spriteProgram.setInt("u_tex", 0);
    spriteProgram.setVec3("u_fog_color", palette.high[0], palette.high[1], palette.high[2]);
    spriteProgram.setVec4("u_color", 1.0f, 1.0f, 1.0f, 1.0f);
    for (const ProjectedSprite& s : projected) {
        drawSprite(spriteTextures[s.kind], s.screenX - s.width / 2.0f, s.baseY - s.height, s.width,
                   s.height, s.fog);
    }
    drawSprite(vehicleTexture, roadVehicleLeft(width, cam), kVehicleTop, kVehicleWidth,
               kVehicleHeight, 0.0f);
}

void RoadScene::drawSprite(const Texture& texture, float x, float y, float w, float h,
                           float fog) const {
    // A picture that failed to load would sample as opaque black: leave it out.
    if (texture.id == 0) {
        return;
    }
    const Mat4 model = spriteModel(x, y, w, h);
    spriteProgram.setMat4("u_model", model.data());
    spriteProgram.setFloat("u_fog", fog);
    texture.bind(0);
    quad.draw();
}

void RoadScene::composite(const SavedTarget& canvas, float alpha) const {
    canvas.restore();
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    compositeProgram.use();
    compositeProgram.setInt("u_tex", 0);
    compositeProgram.setVec2("u_resolution", static_cast<float>(width), static_cast<float>(height));
    compositeProgram.setFloat("u_scene_alpha", alpha);
    offscreen.bindTexture(0);
    glBindVertexArray(vertexArray);
    drawFullscreenTriangle();
}

void RoadScene::release() {
    for (Texture& t : spriteTextures) {
        t.release();
    }
    vehicleTexture.release();
    quad.release();
    spriteProgram.release();
    roadProgram.release();
    compositeProgram.release();
    offscreen.release();
    if (vertexArray != 0) {
        glDeleteVertexArrays(1, &vertexArray);
        vertexArray = 0;
    }
}
