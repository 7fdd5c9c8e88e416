// Renders the demo offline at a fixed frame rate through the demo's own
// frame code: stills at chosen times, every frame of a range, or a video with
// the matching stretch of the music.
#include "audio/offline_music.h"
#include "base/clock.h"
#include "command_line.h"
#include "core/asset_archive.h"
#include "core/engine.h"
#include "core/offline_frames.h"
#include "progress.h"
#include "render/gl.h"
#include "render/headless_context.h"
#include "render/render_target.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace {

const char* const kUsage =
    "usage: quex_capture (--at T1,T2,... | --from S --to E) [options]\n"
    "  --at T1,T2,...      stills at these demo times (seconds)\n"
    "  --from S --to E     every frame from S to E seconds (both included)\n"
    "  --fps N             frames per second of the capture (default 60)\n"
    "  --size WxH          size of the final picture (default 1920x1080)\n"
    "  --out DIR           where the PNG files go (default .)\n"
    "  --canvas            also write the 320 x 180 canvas as canvas_NNNNNN.png\n"
    "  --palette           the 16-colour palette on (the C key)\n"
    "  --preroll MODE      full (default): simulate every frame from 0;\n"
    "                      none: start the simulations at the first requested\n"
    "                      time; SECONDS: start them that long before it\n"
    "  --video FILE.mp4    pipe the frames and the music to ffmpeg (H.264 + AAC)\n"
    "  --quiet             no progress report\n";

const ToolHelp kHelp = {
    "quex_capture",
    "Renders the quex_invi demo offline at a fixed frame rate through the demo's own\n"
    "drawing code: stills at chosen times, every frame of a time range, or a video\n"
    "with the matching stretch of the music. It draws offscreen (EGL), so it needs\n"
    "no window, and it simulates every frame from the start unless told otherwise,\n"
    "so each effect looks as it does for a viewer.\n",
    kUsage,
    "--video needs ffmpeg (Debian package ffmpeg) on the PATH.\n\n"
    "Progress goes to standard error: a bar when it is a terminal, otherwise a\n"
    "line every 10 % and a last line with the totals.\n\n"
    "Exit status: 0 when every frame was written, 1 when something failed,\n"
    "2 for a bad argument.\n",
};

struct Options {
    std::vector<double> at;
    double from = -1.0;
    double to = -1.0;
    int fps = 60;
    int width = 1920;
    int height = 1080;
    std::string out = ".";
    bool canvas = false;
    bool palette = false;
    int prerollMode = 0; // 0 full, 1 none, 2 seconds
    double prerollSeconds = 0.0;
    std::string video;
    bool quiet = false;
};

bool parseNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

bool parseTimes(const char* text, std::vector<double>& times) {
    std::string list = text;
    std::size_t begin = 0;
    while (begin <= list.size()) {
        const std::size_t comma = list.find(',', begin);
        const std::string item =
            list.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
        double t = 0.0;
        if (!parseNumber(item.c_str(), t) || t < 0.0) {
            return false;
        }
        times.push_back(t);
        if (comma == std::string::npos) {
            break;
        }
        begin = comma + 1;
    }
    return !times.empty();
}

// Returns false (after printing why) for anything it cannot use.
bool parseOptions(int argc, char** argv, Options& o) {
    auto bad = [](const char* why, const char* arg) {
        std::fprintf(stderr, "quex_capture: %s%s%s\n", why, arg ? ": " : "", arg ? arg : "");
        return false;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        const char* value = hasValue ? argv[i + 1] : nullptr;
        double number = 0.0;
        if (a == "--canvas") {
            o.canvas = true;
        } else if (a == "--palette") {
            o.palette = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (!hasValue) {
            return bad("unknown option or missing value", argv[i]);
        } else if (a == "--at") {
            if (!parseTimes(value, o.at)) {
                return bad("--at needs times in seconds, comma-separated", value);
            }
            ++i;
        } else if (a == "--from" || a == "--to") {
            if (!parseNumber(value, number) || number < 0.0) {
                return bad("bad time", value);
            }
            (a == "--from" ? o.from : o.to) = number;
            ++i;
        } else if (a == "--fps") {
            if (!parseNumber(value, number) || number < 1.0 || number > 1000.0 ||
                number != std::floor(number)) {
                return bad("--fps needs a whole number from 1 to 1000", value);
            }
            o.fps = static_cast<int>(number);
            ++i;
        } else if (a == "--size") {
            int w = 0;
            int h = 0;
            char tail = 0;
            if (std::sscanf(value, "%dx%d%c", &w, &h, &tail) != 2 || w < 1 || h < 1 || w > 8192 ||
                h > 8192) {
                return bad("--size needs WxH, each 1 to 8192", value);
            }
            o.width = w;
            o.height = h;
            ++i;
        } else if (a == "--out") {
            o.out = value;
            ++i;
        } else if (a == "--preroll") {
            if (std::strcmp(value, "full") == 0) {
                o.prerollMode = 0;
            } else if (std::strcmp(value, "none") == 0) {
                o.prerollMode = 1;
            } else if (parseNumber(value, number) && number >= 0.0) {
                o.prerollMode = 2;
                o.prerollSeconds = number;
            } else {
                return bad("--preroll needs full, none or seconds", value);
            }
            ++i;
        } else if (a == "--video") {
            o.video = value;
            ++i;
        } else {
            return bad("unknown option", argv[i]);
        }
    }
    const bool range = o.from >= 0.0 || o.to >= 0.0;
    if (o.at.empty() == !range) {
        return bad("give either --at or --from and --to", nullptr);
    }
    if (range && (o.from < 0.0 || o.to < 0.0 || o.to < o.from)) {
        return bad("--from and --to need 0 <= S <= E", nullptr);
    }
    return true;
}

bool commandExists(const char* name) {
    const std::string check = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(check.c_str()) == 0;
}

// RGB rows, top row first.
std::vector<unsigned char> readRgb(GLuint framebuffer, int w, int h) {
    std::vector<unsigned char> rgba(static_cast<std::size_t>(w) * h * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    std::vector<unsigned char> rgb(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const unsigned char* src = rgba.data() + static_cast<std::size_t>(h - 1 - y) * w * 4;
        unsigned char* dst = rgb.data() + static_cast<std::size_t>(y) * w * 3;
        for (int x = 0; x < w; ++x) {
            dst[x * 3 + 0] = src[x * 4 + 0];
            dst[x * 3 + 1] = src[x * 4 + 1];
            dst[x * 3 + 2] = src[x * 4 + 2];
        }
    }
    return rgb;
}

bool writePng(const std::string& path, const std::vector<unsigned char>& rgb, int w, int h) {
    if (stbi_write_png(path.c_str(), w, h, 3, rgb.data(), w * 3) == 0) {
        std::fprintf(stderr, "quex_capture: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

bool writeWav(const std::string& path, const float* interleaved, std::size_t frames, int channels,
              int rate) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    auto u32 = [f](std::uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [f](std::uint16_t v) { std::fwrite(&v, 2, 1, f); };
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(frames * channels * 4);
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(3); // IEEE float
    u16(static_cast<std::uint16_t>(channels));
    u32(static_cast<std::uint32_t>(rate));
    u32(static_cast<std::uint32_t>(rate * channels * 4));
    u16(static_cast<std::uint16_t>(channels * 4));
    u16(32);
    std::fwrite("data", 1, 4, f);
    u32(dataBytes);
    std::fwrite(interleaved, 4, frames * channels, f);
    return std::fclose(f) == 0;
}

std::string frameName(const std::string& dir, const char* prefix, long frame) {
    char name[64];
    std::snprintf(name, sizeof name, "/%s_%06ld.png", prefix, frame);
    return dir + name;
}

// The frames to keep, by frame number at the capture rate, and the first frame
// to simulate.
struct FramePlan {
    std::set<long> wanted;
    long first = 0;
    long last = 0;
    long start = 0;
};

FramePlan planFrames(const Options& o) {
    FramePlan plan;
    if (!o.at.empty()) {
        for (double t : o.at) {
            plan.wanted.insert(std::lround(t * o.fps));
        }
    } else {
        for (long k = std::lround(o.from * o.fps); k <= std::lround(o.to * o.fps); ++k) {
            plan.wanted.insert(k);
        }
    }
    plan.first = *plan.wanted.begin();
    plan.last = *plan.wanted.rbegin();
    if (o.prerollMode == 1) {
        plan.start = plan.first;
    } else if (o.prerollMode == 2) {
        plan.start = std::max(0L, plan.first - std::lround(o.prerollSeconds * o.fps));
    }
    return plan;
}

// The demo's systems drawing into an offscreen picture of the capture's size,
// with the decoded music beside them for the levels and the video's sound, and
// the scenes' state rebuilt between the frames it keeps.
struct Capture {
    HeadlessContext context;
    Engine engine;
    OfflineMusic music;
    RenderTarget target;
    FrameSchedule schedule;
    SceneRebuild rebuild;

    bool init(const Options& o) {
        if (!context.create() || !engine.initSystems(o.width, o.height, false)) {
            return false;
        }
        engine.paletteEnabled = o.palette;
        if (music.load()) {
            engine.musicLength = music.lengthSeconds();
        } else {
            std::fprintf(stderr, "[Engine] running without audio\n");
        }
        target.create(o.width, o.height, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, GL_NEAREST,
                      GL_CLAMP_TO_EDGE);
        engine.post.outputFramebuffer = target.framebuffer;
        schedule.init(o.fps, engine.loopRangeNow(), analyseFrames(music));
        rebuild.init(engine.timeline, engine.overlays, schedule);
        return true;
    }

    void release() {
        rebuild.release();
        target.release();
        engine.releaseSystems();
    }

    // Frame k at the capture rate, its clock wrapped at the loop end as the
    // demo's is, the simulated scenes first brought to where frame k finds them.
    void draw(long k) {
        rebuild.bringTo(k, HUGE_VAL);
        drawScheduledFrame(engine, rebuild, schedule, k);
    }

    // The final picture to a PNG or the video, and the canvas beside it if asked.
    bool keep(long k, const Options& o, std::FILE* video) {
        const std::vector<unsigned char> picture = readRgb(target.framebuffer, o.width, o.height);
        bool ok = true;
        if (video != nullptr) {
            ok = std::fwrite(picture.data(), 1, picture.size(), video) == picture.size();
        } else {
            ok = writePng(frameName(o.out, "frame", k), picture, o.width, o.height);
        }
        if (ok && o.canvas) {
            const PostProcess& post = engine.post;
            ok = writePng(frameName(o.out, "canvas", k),
                          readRgb(post.canvas.framebuffer, post.canvasWidth, post.canvasHeight),
                          post.canvasWidth, post.canvasHeight);
        }
        return ok;
    }
};

// ffmpeg reading raw frames from a pipe, with the music under the captured
// stretch (cut where the frames are) from a WAV file beside the output.
std::FILE* startVideo(const Options& o, const OfflineMusic& music, const FramePlan& plan,
                      const std::string& wavPath) {
    const auto frameAt = [&](long k) {
        return std::min(music.frames(),
                        static_cast<std::size_t>(static_cast<double>(k) / o.fps * music.rate));
    };
    const std::size_t a = frameAt(plan.first);
    const std::size_t b = frameAt(plan.last + 1);
    const bool haveAudio = music.rate > 0 && b > a &&
                           writeWav(wavPath, music.samples.data() + a * music.channels, b - a,
                                    music.channels, music.rate);
    char command[2048];
    std::snprintf(command, sizeof command,
                  "ffmpeg -loglevel error -y -f rawvideo -pix_fmt rgb24 -s %dx%d -r %d -i - "
                  "%s%s%s -c:v libx264 -pix_fmt yuv420p -crf 18 %s -shortest '%s'",
                  o.width, o.height, o.fps, haveAudio ? "-i '" : "",
                  haveAudio ? wavPath.c_str() : "", haveAudio ? "'" : "",
                  haveAudio ? "-c:a aac -b:a 256k" : "", o.video.c_str());
    std::FILE* video = popen(command, "w");
    if (video == nullptr) {
        std::fprintf(stderr, "quex_capture: cannot start ffmpeg\n");
    }
    return video;
}

// Draws the wanted frames; the simulations run from the plan's start, stepped
// without drawing between frames that are not kept.
bool captureFrames(Capture& capture, const Options& o, const FramePlan& plan, std::FILE* video) {
    Progress progress("quex_capture", static_cast<long>(plan.wanted.size()));
    if (plan.start > 0) {
        capture.rebuild.restart(plan.start);
    }
    bool ok = true;
    long done = 0;
    for (const long k : plan.wanted) {
        capture.draw(k);
        ok = capture.keep(k, o, video);
        ++done;
        if (!o.quiet) {
            progress.update(done);
        }
        if (!ok) {
            break;
        }
    }
    if (!o.quiet) {
        progress.finish(done);
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (const std::optional<int> done = readCommandLine(argc, argv, kHelp, parseOptions, o)) {
        return *done;
    }
    if (!o.video.empty() && !commandExists("ffmpeg")) {
        std::fprintf(stderr, "quex_capture: --video needs ffmpeg, which is not installed\n");
        return 1;
    }
    mkdir(o.out.c_str(), 0755);
    const FramePlan plan = planFrames(o);

    Capture capture;
    if (!capture.init(o)) {
        return 1;
    }
    std::FILE* video = nullptr;
    const std::string wavPath = o.out + "/.capture_audio.wav";
    if (!o.video.empty() && (video = startVideo(o, capture.music, plan, wavPath)) == nullptr) {
        return 1;
    }
    bool ok = captureFrames(capture, o, plan, video);
    if (video != nullptr) {
        ok = pclose(video) == 0 && ok;
        std::remove(wavPath.c_str());
    }
    capture.release();
    return ok ? 0 : 1;
}
