// Reads a screenshot of the demo and the mask it was drawn with, and prints
// which share of its lit pixels is a palette colour times the mask, that is,
// what the final pass gives with the 16-colour palette on.
//
//   palette_share SCREENSHOT.png MASK.png   ->   "share 0.998 lit 412345"
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stb/stb_image.h>

namespace {

const float kPalette[16][3] = {
    {0.000f, 0.000f, 0.000f}, {1.000f, 1.000f, 1.000f}, {0.506f, 0.200f, 0.220f},
    {0.459f, 0.808f, 0.784f}, {0.557f, 0.235f, 0.592f}, {0.337f, 0.675f, 0.302f},
    {0.180f, 0.173f, 0.608f}, {0.929f, 0.945f, 0.443f}, {0.557f, 0.314f, 0.161f},
    {0.333f, 0.220f, 0.000f}, {0.769f, 0.424f, 0.443f}, {0.290f, 0.290f, 0.290f},
    {0.482f, 0.482f, 0.482f}, {0.663f, 1.000f, 0.624f}, {0.439f, 0.427f, 0.922f},
    {0.698f, 0.698f, 0.698f},
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: palette_share SCREENSHOT.png MASK.png\n");
        return 2;
    }
    int w = 0, h = 0, mw = 0, mh = 0, n = 0;
    unsigned char* shot = stbi_load(argv[1], &w, &h, &n, 3);
    unsigned char* mask = stbi_load(argv[2], &mw, &mh, &n, 3);
    if (shot == nullptr || mask == nullptr) {
        std::fprintf(stderr, "palette_share: cannot read the images\n");
        return 1;
    }
    long lit = 0;
    long matching = 0;
    for (int y = 0; y < h; ++y) {
        // The final pass samples the mask with the window's bottom-left origin.
        const int my = static_cast<int>((h - y - 0.5) * mh / h);
        for (int x = 0; x < w; ++x) {
            const unsigned char* c = shot + (static_cast<long>(y) * w + x) * 3;
            if (c[0] < 24 && c[1] < 24 && c[2] < 24) {
                continue;
            }
            ++lit;
            const int mx = static_cast<int>((x + 0.5) * mw / w);
            const unsigned char* m = mask + (static_cast<long>(my) * mw + mx) * 3;
            for (const auto& p : kPalette) {
                bool close = true;
                for (int k = 0; k < 3 && close; ++k) {
                    const float expected = p[k] * (m[k] / 255.0f) * 255.0f;
                    close = std::fabs(c[k] - expected) <= 3.0f;
                }
                if (close) {
                    ++matching;
                    break;
                }
            }
        }
    }
    std::printf("share %.4f lit %ld\n", lit ? static_cast<double>(matching) / lit : 0.0, lit);
    stbi_image_free(shot);
    stbi_image_free(mask);
    return 0;
}
