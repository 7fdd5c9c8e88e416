#include "scenes/dblobs_scene.h"

namespace {

const char* const kDBlobsFS = R"(
float rotating_blob(vec2 uv, float size, float offset, float phase, float rp) {
    float t = u_time;
    vec2 q = rotate(uv, phase + t + rp);
    q.x += 0.03 * cos(rp + 0.001 * t * rp + 10.0 * uv.y);
    q.x += offset + 0.1 * (0.5 * sin(t + 0.5 * rp) + 0.5);
    return length(q) - size;
}

// Signed distance of the merged shape, negative inside; k is the merge width.
float blobs(vec2 uv, float k) {
    float t = u_time;
    float wob = 0.02 + 0.02 * u_audio_bass;
    vec2 w = uv + vec2(wob * sin(1.1 * t + 20.0 * uv.y), wob * cos(1.1 * t + 20.0 * uv.x));
    float l = length(w) - 0.1;
    float l2 = rotating_blob(uv, 0.05, 0.04, 3.149, sin(1.0 + 0.6 * t));
    float l3 = rotating_blob(uv, 0.05, 0.04, 1.0, 0.24 * cos(1.0 + t));
    float l4 = rotating_blob(uv, 0.035, 0.125, 2.5, sin(2.0 + t));
    float l5 = rotating_blob(uv, 0.035, -0.235, 2.5, 0.8 * sin(1.4 + t));
    l = smin(l, l3, k);
    l = smin(l, l2, k);
    l = smin(l, l4, k);
    l = smin(l, l5, k);
    return l;
}

vec3 shape(vec2 uv, vec2 screen) {
    vec3 bottom = custom_palette() ? 2.0 * u_pal_low : 2.0 * vec3(0.1, 0.08, 0.0);
    vec3 top = custom_palette() ? 2.0 * u_pal_high : 2.0 * vec3(0.1, 0.001, 0.1);
    float diff = (blobs(uv, 0.001) - blobs(uv, 0.08)) * 10.01;
    float de = blobs(uv, 0.05 + 0.03 * u_audio_bass);
    vec3 c = smooth_edge(0.001, 0.0, de) * mix(bottom, top, screen.y) * 3.0;
    c = c / mix(1.0, 1.0 - smooth_edge(-0.45, 0.0, de) * length(c), 0.45);
    c = c / mix(1.0, 1.0 - smooth_edge(-0.02, 0.02, de) * length(c), 0.8);
    c = clamp(c, 0.0, 1.0);
    c = c / mix(1.0, 1.0 - smooth_edge(-0.1, 0.5, diff), 0.8);
    return c;
}

float hash(float x) {
    return fract(sin(x) * 43758.5453123);
}

// n wobbling light sectors of random length, turned by rt.
float rays(vec2 uv, float n, float rt) {
    float t = u_time;
    vec2 u = rotate(uv, rt);
    float l = length(u);
    vec2 d = u + vec2(0.2 * l * sin(2.0 * t + 6.0 * l), 0.2 * l * cos(2.4 * t + 5.0 * l));
    float an = PI + atan(d.y, d.x);
    float sector = 2.0 * PI / n;
    float id = floor(an / sector);
    float scale = hash(1.7 * id + 13.1 * n);
    an = mod(an, sector) / sector;
    an = abs(sin(PI * an));
    an *= smooth_edge(0.0, 0.6, scale * (1.0 - length(d)));
    return smooth_edge(0.3, 0.9, an);
}

vec4 composite(vec2 uv, vec2 screen) {
    float t = u_time;
    vec3 bottom = custom_palette() ? u_pal_low : vec3(0.76, 0.4, 0.7);
    vec3 top = custom_palette() ? u_pal_high : vec3(0.9, 0.7, 0.2);

    vec4 c = vec4(shape(uv, screen) * (0.5 + 0.1 * sin(t)), 0.0);
    vec3 bg = mix(bottom, top, 1.0 - screen.y) * 0.22;
    float mask = smooth_edge(1.0, 0.0, length(c.rgb));
    c.rgb = clamp(mix(c.rgb, bg, mask), 0.0, 1.0);

    float sh = blobs(uv, 1.0);
    float an = rays(uv, 2.0, 0.1 * t) + rays(uv, 4.0, 0.24 * t) + 0.15 * rays(uv, 14.0, 0.2 * t);
    an = 0.5 * an;
    an += 1.4 * smooth_edge(0.2, 0.0, length(uv));
    an *= 1.0 + 0.8 * u_audio_treble;
    an = clamp(an, 0.01, 1.0);

    // Colour dodges.
    c = c / (1.0 - smooth_edge(1.4, 0.0, sh) * (0.75 + 0.02 * sin(2.0 * t)) * mask);
    c = c / (1.3 - clamp(1.4 * an * (0.01 - sh), 0.0, 1.0));

    sh -= 0.35 * an;
    c.rgb = mix(c.rgb, 2.0 * bg, sh);
    return c;
}

void main() {
    vec2 uv = gl_FragCoord.xy / u_resolution;
    vec2 screen = uv;
    uv -= 0.5;
    uv.y /= u_resolution.x / u_resolution.y;

    vec3 colour = composite(uv, screen).rgb;
    colour = smooth_edge(0.0, 1.2, colour);

    frag_color = vec4(colour * u_scene_alpha, u_scene_alpha);
}
)";

} // namespace

void DBlobsScene::init(int width, int height) {
    shared.init(width, height, kDBlobsFS);
}

void DBlobsScene::setAudio(float bass, float treble) {
    shared.setAudio(bass, treble);
}

void DBlobsScene::setPalette(bool enabled, const Float3& low, const Float3& mid,
                             const Float3& high) {
    shared.setPalette(enabled, low, mid, high);
}

void DBlobsScene::render(double time, double, float alpha) {
    shared.render(time, alpha);
}

void DBlobsScene::release() {
    shared.release();
}
