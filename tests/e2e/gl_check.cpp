// Runs the demo's own frame code through every scene on whatever GL driver
// loads, and reports what a driver other than ours would trip on:
//   - a GL error after any frame (error flags stay set until read, so one
//     check a frame misses none of its passes);
//   - a renderer other than the one the caller meant to test;
//   - canvases that differ from another driver's beyond a tolerance.
// It also hands every stage's source, as the driver got it, to files for a
// reference compiler.
//
//   gl_check [--route any|surfaceless|device|window] [--frames N]
//            [--smoke-frames N] [--expect-renderer TEXT] [--shaders DIR]
//            [--canvases DIR] [--compare DIR] [--tolerance [SCENE=]MEAN]...
// Exit code 0 when clean, 1 on a fault (one line each on stdout), 2 for bad
// arguments.
#include "core/engine.h"
#include "render/gl.h"
#include "render/headless_context.h"
#include "render/render_target.h"
#include "render/shader.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

namespace {

struct Options {
    HeadlessRoute route = HeadlessRoute::Any;
    int frames = 2;
    int smokeFrames = 1; // smoke draws thousands of slices a frame
    std::string renderer;
    std::string shaders;
    std::string canvases;
    std::string compare;
    // Mean difference, in levels of 255, for every scene or for one by name.
    double tolerance = 1.0;
    std::map<std::string, double> sceneTolerance;

    double toleranceFor(const std::string& scene) const {
        const auto it = sceneTolerance.find(scene);
        return it == sceneTolerance.end() ? tolerance : it->second;
    }
};

struct Stage {
    std::uint32_t type;
    std::string source;
};

std::vector<Stage> stages;

void keepStage(std::uint32_t type, const char* source) {
    for (const Stage& s : stages) {
        if (s.type == type && s.source == source) {
            return;
        }
    }
    stages.push_back({type, source});
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (v == nullptr) {
            return false;
        }
        ++i;
        if (a == "--route") {
            const std::string r = v;
            o.route = r == "surfaceless" ? HeadlessRoute::Surfaceless
                      : r == "device"    ? HeadlessRoute::Device
                      : r == "window"    ? HeadlessRoute::Window
                                         : HeadlessRoute::Any;
            if (o.route == HeadlessRoute::Any && r != "any") {
                return false;
            }
        } else if (a == "--frames" || a == "--smoke-frames") {
            (a == "--frames" ? o.frames : o.smokeFrames) = std::atoi(v);
            if (std::atoi(v) < 1) {
                return false;
            }
        } else if (a == "--expect-renderer") {
            o.renderer = v;
        } else if (a == "--shaders") {
            o.shaders = v;
        } else if (a == "--canvases") {
            o.canvases = v;
        } else if (a == "--compare") {
            o.compare = v;
        } else if (a == "--tolerance") {
            const std::string t = v;
            const std::size_t eq = t.find('=');
            if (eq == std::string::npos) {
                o.tolerance = std::atof(v);
            } else {
                o.sceneTolerance[t.substr(0, eq)] = std::atof(t.c_str() + eq + 1);
            }
        } else {
            return false;
        }
    }
    return true;
}

int faults = 0;

void fault(const char* what, const char* where, double t) {
    std::printf("FAULT %s: %s at %.3f s\n", where, what, t);
    ++faults;
}

bool glClean(const char* where, double t) {
    bool clean = true;
    for (GLenum e = glGetError(); e != GL_NO_ERROR; e = glGetError()) {
        char what[48];
        std::snprintf(what, sizeof what, "GL error 0x%04x", e);
        fault(what, where, t);
        clean = false;
    }
    return clean;
}

// The canvas as RGBA rows, bottom row first.
std::vector<unsigned char> readCanvas(const PostProcess& post) {
    std::vector<unsigned char> rgba(static_cast<std::size_t>(post.canvasWidth) * post.canvasHeight *
                                    4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, post.canvas.framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, post.canvasWidth, post.canvasHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

// Mean absolute difference over the RGB channels, in levels; -1 when the
// other picture is missing or of another size.
double meanDifference(const std::vector<unsigned char>& rgba, int w, int h,
                      const std::string& path) {
    int pw = 0;
    int ph = 0;
    int channels = 0;
    stbi_set_flip_vertically_on_load(1);
    unsigned char* other = stbi_load(path.c_str(), &pw, &ph, &channels, 4);
    if (other == nullptr || pw != w || ph != h) {
        stbi_image_free(other);
        return -1.0;
    }
    double sum = 0.0;
    for (std::size_t i = 0; i < rgba.size(); ++i) {
        if (i % 4 != 3) {
            sum += std::abs(static_cast<int>(rgba[i]) - static_cast<int>(other[i]));
        }
    }
    stbi_image_free(other);
    return sum / (static_cast<double>(w) * h * 3);
}

// Each stage as the desktop's driver got it, and as the browser build's
// version swap makes it for GLSL ES 3.00 (NN.es.vert).
void writeStages(const std::string& dir) {
    mkdir(dir.c_str(), 0755);
    for (std::size_t i = 0; i < stages.size(); ++i) {
        const char* extension = stages[i].type == GL_VERTEX_SHADER ? "vert" : "frag";
        const std::string es = glslSource(stages[i].source.c_str(), GlslDialect::Es300);
        for (const auto& [infix, text] : {std::pair{"", stages[i].source}, std::pair{".es", es}}) {
            char name[32];
            std::snprintf(name, sizeof name, "/%02zu%s.%s", i, infix, extension);
            if (std::FILE* f = std::fopen((dir + name).c_str(), "wb")) {
                std::fputs(text.c_str(), f);
                std::fclose(f);
            }
        }
    }
    std::printf("%zu distinct stage sources in %s\n", stages.size(), dir.c_str());
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: gl_check [--route any|surfaceless|device|window] [--frames N] "
                             "[--smoke-frames N] [--expect-renderer TEXT] [--shaders DIR] "
                             "[--canvases DIR] [--compare DIR] [--tolerance [SCENE=]MEAN]...\n");
        return 2;
    }
    if (!o.shaders.empty()) {
        Shader::setSourceSink(keepStage);
    }
    HeadlessContext context;
    if (!context.create(o.route)) {
        std::printf("FAULT no GL 3.3 core context\n");
        return 1;
    }
    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    std::printf("renderer: %s, GL %s\n", renderer,
                reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    if (std::strstr(renderer, o.renderer.c_str()) == nullptr) {
        std::printf("FAULT the renderer is not %s\n", o.renderer.c_str());
        return 1;
    }

    Engine engine;
    const int width = 640;
    const int height = 360;
    if (!engine.initSystems(width, height, false)) {
        std::printf("FAULT start-up failed\n");
        return 1;
    }
    glClean("start-up", 0.0);
    RenderTarget output;
    if (!output.create(width, height, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, GL_NEAREST,
                       GL_CLAMP_TO_EDGE)) {
        fault("the output target is incomplete", "start-up", 0.0);
    }
    engine.post.outputFramebuffer = output.framebuffer;
    if (!o.canvases.empty()) {
        mkdir(o.canvases.c_str(), 0755);
    }

    // Each scene at the middle of its first entry, with whatever overlays and
    // texts run there; fixed levels so that every driver draws the same.
    std::vector<std::string> done;
    for (const SceneEntry& entry : engine.script.scenes) {
        const std::string name = entry.name;
        bool seen = false;
        for (const std::string& d : done) {
            seen = seen || d == name;
        }
        if (seen) {
            continue;
        }
        done.push_back(name);
        const int frames = name == "smoke" ? o.smokeFrames : o.frames;
        const double middle = 0.5 * (entry.start + entry.end);
        bool clean = true;
        const auto began = std::chrono::steady_clock::now();
        for (int k = 0; k < frames; ++k) {
            const double t = middle + k / 60.0;
            engine.drawFrame(t, 0.6f, 0.3f);
            clean = glClean(name.c_str(), t) && clean;
        }
        const std::vector<unsigned char> canvas = readCanvas(engine.post);
        const int cw = engine.post.canvasWidth;
        const int ch = engine.post.canvasHeight;
        char text[96];
        std::snprintf(
            text, sizeof text, "%s: %d frames in %.1f s%s", name.c_str(), frames,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(),
            clean ? ", no GL error" : "");
        std::string line = text;
        if (!o.canvases.empty()) {
            stbi_flip_vertically_on_write(1);
            stbi_write_png((o.canvases + "/" + name + ".png").c_str(), cw, ch, 4, canvas.data(),
                           cw * 4);
        }
        if (!o.compare.empty()) {
            const double mean = meanDifference(canvas, cw, ch, o.compare + "/" + name + ".png");
            std::snprintf(text, sizeof text, ", canvas differs by %.3f levels on average", mean);
            line += text;
            const double tolerance = o.toleranceFor(name);
            if (mean < 0.0 || mean > tolerance) {
                std::snprintf(text, sizeof text,
                              "canvas differs by %.3f levels on average (tolerance %.3f)", mean,
                              tolerance);
                fault(text, name.c_str(), middle + (frames - 1) / 60.0);
            }
        }
        std::printf("%s\n", line.c_str());
    }

    output.release();
    engine.releaseSystems();
    glClean("release", 0.0);
    if (!o.shaders.empty()) {
        writeStages(o.shaders);
    }
    std::printf("%s\n", faults ? "FAILED" : "clean");
    return faults ? 1 : 0;
}
