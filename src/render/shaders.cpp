#include "render/shaders.h"

const char* const kFullscreenVS = R"(
#version 330 core
const vec2 kPositions[3] = vec2[3](vec2(-1.0, -1.0), vec2(3.0, -1.0), vec2(-1.0, 3.0));

void main() {
    gl_Position = vec4(kPositions[gl_VertexID], 0.0, 1.0);
}
)";

const char* const kSpriteVS = R"(
#version 330 core
layout(location = 0) in vec2 a_pos;
layout(location = 1) in vec2 a_uv;

uniform mat4 u_proj;
uniform mat4 u_model;
uniform vec2 u_uv_offset;
uniform vec2 u_uv_scale;

out vec2 v_uv;

void main() {
    gl_Position = u_proj * u_model * vec4(a_pos, 0.0, 1.0);
    v_uv = a_uv * u_uv_scale + u_uv_offset;
}
)";

const char* const kSpriteFS = R"(
#version 330 core
in vec2 v_uv;

uniform sampler2D u_tex;
uniform vec4 u_color;

out vec4 frag_color;

void main() {
    frag_color = texture(u_tex, v_uv) * u_color;
}
)";

Mat4 spriteProjection(int width, int height) {
    Mat4 m{};
    m[0] = 2.0f / static_cast<float>(width);
    m[5] = -2.0f / static_cast<float>(height);
    m[10] = -1.0f;
    m[12] = -1.0f;
    m[13] = 1.0f;
    m[15] = 1.0f;
    return m;
}

Mat4 spriteModel(float x, float y, float w, float h) {
    Mat4 m{};
    m[0] = w;
    m[5] = h;
    m[10] = 1.0f;
    m[12] = x;
    m[13] = y;
    m[15] = 1.0f;
    return m;
}
