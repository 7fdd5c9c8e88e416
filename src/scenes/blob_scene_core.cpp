#include "scenes/blob_scene_core.h"

#include "render/gl.h"
#include "render/shaders.h"

namespace {

const char* const kBlobPrelude = R"(
#version 330 core
uniform float u_time;
uniform float u_scene_alpha;
uniform vec2 u_resolution;
uniform float u_audio_bass;
uniform float u_audio_treble;
uniform float u_use_custom_pal;
uniform vec3 u_pal_low;
uniform vec3 u_pal_mid;
uniform vec3 u_pal_high;

out vec4 frag_color;

const float PI = 3.14159265358;

bool custom_palette() {
    return u_use_custom_pal > 0.5;
}

// Polynomial smooth minimum; k is the blend width.
float smin(float a, float b, float k) {
    float h = clamp(0.5 + 0.5 * (b - a) / k, 0.0, 1.0);
    return mix(b, a, h) - k * h * (1.0 - h);
}

// GLSL leaves smoothstep undefined for e0 >= e1; these shaders rely on the
// falling edge, so the polynomial is written out.
float smooth_edge(float e0, float e1, float x) {
    float t = clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

vec3 smooth_edge(float e0, float e1, vec3 x) {
    vec3 t = clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Multiplying from the right turns v counter-clockwise by a.
vec2 rotate(vec2 v, float a) {
    return v * mat2(cos(a), -sin(a), sin(a), cos(a));
}
)";

} // namespace

std::string blobFragmentSource(const char* fragmentBody) {
    return std::string(kBlobPrelude) + fragmentBody;
}

void BlobSceneCore::init(int w, int h, const char* fragmentBody) {
    width = w;
    height = h;
    program.load(kFullscreenVS, blobFragmentSource(fragmentBody).c_str());
    glGenVertexArrays(1, &vertexArray);
}

void BlobSceneCore::setAudio(float b, float t) {
    bass = b;
    treble = t;
}

void BlobSceneCore::setPalette(bool enabled, const Float3& low, const Float3& mid,
                               const Float3& high) {
    customPalette = enabled;
    if (enabled) {
        palLow = low;
        palMid = mid;
        palHigh = high;
    }
}

void BlobSceneCore::render(double time, float alpha) const {
    // A program that failed to build would draw undefined results.
    if (program.program == 0) {
        return;
    }
    program.use();
    program.setFloat("u_time", static_cast<float>(time));
    program.setFloat("u_scene_alpha", alpha);
    program.setVec2("u_resolution", static_cast<float>(width), static_cast<float>(height));
    program.setFloat("u_audio_bass", bass);
    program.setFloat("u_audio_treble", treble);
    program.setFloat("u_use_custom_pal", customPalette ? 1.0f : 0.0f);
    program.setVec3("u_pal_low", palLow[0], palLow[1], palLow[2]);
    program.setVec3("u_pal_mid", palMid[0], palMid[1], palMid[2]);
    program.setVec3("u_pal_high", palHigh[0], palHigh[1], palHigh[2]);
    glBindVertexArray(vertexArray);
    glDrawArrays(GL_TRIANGLES, 0, 3);
    glBindVertexArray(0);
}

void BlobSceneCore::release() {
    program.release();
    if (vertexArray != 0) {
        glDeleteVertexArrays(1, &vertexArray);
        vertexArray = 0;
    }
}
