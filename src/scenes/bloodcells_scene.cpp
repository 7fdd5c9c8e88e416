#include "scenes/bloodcells_scene.h"

namespace {

const char* const kBloodCellsFS = R"(
const vec3 kLightDir = normalize(vec3(-1.5, 2.0, 3.0));

float cells(vec2 p) {
    vec2 q = mix(sin(p + vec2(1.57, 0.0)), sin(1.4 * p.yx + vec2(1.57, 0.0)), 0.75);
    return 0.3 * q.x * q.y + 0.7;
}

// Seven drifting, rotated cell layers merged by a smooth minimum.
float fbm(vec2 p, float bass) {
    float f = 200.0;
    float t = 100.0 + 1.3 * u_time + 0.1 * bass;
    for (int i = 0; i < 7; i++) {
        p.y -= 0.5 * t;
        p.x -= 0.4 * t;
        p = vec2(0.9 * p.x - 0.45 * p.y, 0.45 * p.x + 0.9 * p.y);
        f = smin(f, cells(p), 0.07);
    }
    return 1.0 - f;
}

vec3 grad_normal(vec2 p, float bass) {
    float t = fbm(p, bass);
    float x = t - fbm(p + vec2(0.03, 0.0), bass);
    float y = t - fbm(p + vec2(0.0, 0.03), bass);
    const float s = 0.0025;
    vec3 n = normalize(cross(vec3(s, x, 0.0), -vec3(0.0, y, s)));
    return vec3(n.x, n.z, n.y);
}

vec3 base_colour(float f, float bass) {
    if (custom_palette()) {
        float t2 = clamp(2.0 * f, 0.0, 2.0);
        if (t2 < 1.0) {
            return mix(u_pal_low, u_pal_mid, t2);
        }
        return mix(u_pal_mid, u_pal_high, t2 - 1.0);
    }
    return f * vec3(1.0, 0.3 + 0.05 * bass, 0.1 + 0.05 * bass);
}

vec3 specular(vec3 n, vec3 v) {
    vec3 h = normalize(kLightDir + v);
    float s = max(0.0, dot(n, h));
    s = 0.2 * s * s * s * s;
    return s * vec3(0.4, 0.7, 0.7) * (1.0 + 2.0 * u_audio_treble);
}

vec3 add_rim(vec3 colour, vec3 n, vec3 v) {
    float r = 1.0 - clamp(dot(n, v), 0.0, 1.0);
    vec3 rim = vec3(0.8, 0.8, 1.0) * (1.0 + 0.5 * u_audio_treble);
    return mix(colour, rim, smooth_edge(-0.2, 2.9, r));
}

vec3 square_vignette(vec3 colour, vec2 ouv, float aspect) {
    float d = max(abs(ouv.y * aspect), abs(ouv.x));
    return mix(colour, vec3(0.0), smooth_edge(0.45, 0.55, d));
}

void main() {
    vec2 uv = gl_FragCoord.xy / u_resolution - 0.5;
    float aspect = u_resolution.x / u_resolution.y;
    uv.y /= aspect;
    vec2 ouv = uv;

    float bass = u_audio_bass;
    uv = mix(uv, uv * sin(bass), 0.14);
    vec2 p = 25.0 * uv;
    float f = fbm(p, bass);

    vec3 colour = base_colour(f, bass);
    vec3 v = normalize(vec3(uv, 1.0));
    vec3 n = grad_normal(p, bass);
    colour += specular(n, v);
    colour = add_rim(colour, n, v);
    colour = square_vignette(colour, ouv, aspect);
    colour = smooth_edge(0.0, 1.0, colour);

    frag_color = vec4(colour * u_scene_alpha, u_scene_alpha);
}
)";

} // namespace

void BloodCellsScene::init(int width, int height) {
    shared.init(width, height, kBloodCellsFS);
}

void BloodCellsScene::setAudio(float bass, float treble) {
    shared.setAudio(bass, treble);
}

void BloodCellsScene::setPalette(bool enabled, const Float3& low, const Float3& mid,
                                 const Float3& high) {
    shared.setPalette(enabled, low, mid, high);
}

void BloodCellsScene::render(double time, double, float alpha) {
    shared.render(time, alpha);
}

void BloodCellsScene::release() {
    shared.release();
}
