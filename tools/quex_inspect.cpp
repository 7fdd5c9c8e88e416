// Shows a demo script as the demo reads it: JSON of the parsed records, a
// lint of what an author would want to know, and an SVG timeline over the
// music's bass and treble.
//
//   quex_inspect [SCRIPT] [--mem] [--lint] [--timeline FILE.svg]
#include "audio/offline_music.h"
#include "command_line.h"
#include "core/asset_archive.h"
#include "script/script.h"
#include "script/timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

const char* const kUsage = "usage: quex_inspect [SCRIPT] [--mem] [--lint] [--timeline FILE.svg]\n"
                           "  SCRIPT     a script file (default: the embedded assets/demo.txt)\n"
                           "  --mem      read the file into memory and parse it as the demo\n"
                           "             parses its embedded copy\n"
                           "  --lint     warnings, one per line; exit code 1 when there are any\n"
                           "  --timeline draw the schedule over the music as an SVG file\n";

const ToolHelp kHelp = {
    "quex_inspect",
    "Shows a quex_invi demo script as the demo reads it: by default the parsed\n"
    "records as JSON on standard output; with --lint what an author would want to\n"
    "know (unknown scenes, missing images and fonts, entries past the music's end,\n"
    "characters the font lacks, stabs that overlap); with --timeline the schedule\n"
    "drawn over the music's bass and treble as an SVG picture.\n",
    kUsage,
    "The parser's own messages go to standard error.\n\n"
    "Exit status: 0 on success, 1 when the script cannot be read, --lint found\n"
    "warnings or the SVG cannot be written, 2 for a bad argument.\n",
};

const char* const kScriptName = "assets/demo.txt";

// ---------------------------------------------------------------- JSON

std::string jsonString(const char* text) {
    std::string out = "\"";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p == '"' || *p == '\\') {
            out += '\\';
            out += static_cast<char>(*p);
        } else if (*p < 32 || *p > 126) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", *p);
            out += escaped;
        } else {
            out += static_cast<char>(*p);
        }
    }
    return out + "\"";
}

// Enough digits that the text reads back to the same value.
std::string num(double v) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

std::string num(float v) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(v));
    return buffer;
}

std::string num(int v) {
    return std::to_string(v);
}

std::string boolean(bool v) {
    return v ? "true" : "false";
}

std::string triple(const Float3& v) {
    std::string out = "[";
    out.append(num(v[0])).append(", ").append(num(v[1])).append(", ").append(num(v[2]));
    return out.append("]");
}

// Writes {"a": 1, "b": 2} from name/value pairs.
class JsonObject {
  public:
    JsonObject& field(const char* name, const std::string& value) {
        text.append(text.empty() ? "{\"" : ", \"").append(name).append("\": ").append(value);
        return *this;
    }
    std::string str() const { return text.empty() ? "{}" : text + "}"; }

  private:
    std::string text;
};

std::string sceneJson(const SceneEntry& e) {
    JsonObject palette;
    palette.field("low", triple(e.palette.low))
        .field("mid", triple(e.palette.mid))
        .field("high", triple(e.palette.high));
    JsonObject o;
    o.field("name", jsonString(e.name))
        .field("start", num(e.start))
        .field("end", num(e.end))
        .field("fadeIn", num(e.fadeIn))
        .field("fadeOut", num(e.fadeOut))
        .field("hasPalette", boolean(e.hasPalette))
        .field("palette", palette.str())
        .field("hasSmokeParams", boolean(e.hasSmokeParams))
        .field("cam", triple(e.cam))
        .field("fov", num(e.fov))
        .field("lightDir", triple(e.lightDir))
        .field("shadow", num(e.shadow))
        .field("lightPow", num(e.lightPow))
        .field("id", num(e.id));
    return o.str();
}

std::string overlayJson(const OverlayEntry& e) {
    JsonObject o;
    o.field("path", jsonString(e.path))
        .field("x", num(e.x))
        .field("y", num(e.y))
        .field("start", num(e.start))
        .field("end", num(e.end))
        .field("fadeIn", num(e.fadeIn))
        .field("fadeOut", num(e.fadeOut))
        .field("drift", num(e.drift))
        .field("travelSpeed", num(e.travelSpeed))
        .field("travelX", num(e.travelX))
        .field("travelY", num(e.travelY))
        .field("glow", boolean(e.glow))
        .field("glowColor", triple(e.glowColor))
        .field("glowGain", num(e.glowGain))
        .field("glowRadius", num(e.glowRadius))
        .field("glowInt", num(e.glowInt))
        .field("id", num(e.id));
    return o.str();
}

std::string scrollJson(const ScrollTextEntry& e) {
    JsonObject o;
    o.field("start", num(e.start))
        .field("speed", num(e.speed))
        .field("font", jsonString(e.font))
        .field("y", num(e.y))
        .field("text", jsonString(e.text))
        .field("id", num(e.id));
    return o.str();
}

std::string stabJson(const TextStabEntry& e) {
    JsonObject o;
    o.field("start", num(e.start))
        .field("end", num(e.end))
        .field("fadeIn", num(e.fadeIn))
        .field("fadeOut", num(e.fadeOut))
        .field("font", jsonString(e.font))
        .field("x", num(e.x))
        .field("y", num(e.y))
        .field("text", jsonString(e.text))
        .field("id", num(e.id));
    return o.str();
}

template <typename Entry>
std::string array(const std::vector<Entry>& entries, std::string (*toJson)(const Entry&)) {
    std::string out = "[";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        out += (i ? ",\n    " : "\n    ") + toJson(entries[i]);
    }
    return out + (entries.empty() ? "]" : "\n  ]");
}

void printJson(const DemoScript& s) {
    std::printf("{\n  \"fps\": %d,\n  \"endTime\": %s,\n  \"loopTime\": %s,\n  \"scroll\": %s,\n"
                "  \"nextId\": %d,\n",
                s.fps, num(s.endTime).c_str(), num(s.loopTime).c_str(), boolean(s.scroll).c_str(),
                s.nextId);
    std::printf("  \"scenes\": %s,\n", array(s.scenes, sceneJson).c_str());
    std::printf("  \"overlays\": %s,\n", array(s.overlays, overlayJson).c_str());
    std::printf("  \"scrollTexts\": %s,\n", array(s.scrollTexts, scrollJson).c_str());
    std::printf("  \"textStabs\": %s\n}\n", array(s.textStabs, stabJson).c_str());
}

// ---------------------------------------------------------------- music

struct Music {
    double length = 0.0;
    std::vector<float> bass;   // one value per 1/60 s
    std::vector<float> treble; // likewise
};

Music analyseMusic() {
    Music music;
    OfflineMusic decoded;
    if (decoded.load()) {
        music.length = static_cast<double>(decoded.frames()) / decoded.rate;
        decoded.levels(60, music.bass, music.treble);
    }
    return music;
}

// ---------------------------------------------------------------- lint

// Script line numbers from parsing the text line by line: the entries' by id,
// and those of entry lines the parser refused.
struct ScriptLines {
    std::map<int, int> byId;
    std::vector<int> refused;
};

ScriptLines lineNumbers(const std::string& text) {
    ScriptLines lines;
    DemoScript probe;
    std::size_t begin = 0;
    int number = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        ++number;
        char line[512];
        const std::size_t n = std::min<std::size_t>(end - begin, 511);
        std::memcpy(line, text.data() + begin, n);
        line[n] = '\0';
        const int before = probe.nextId;
        Script::parseLine(line, probe);
        if (probe.nextId != before) {
            lines.byId[before] = number;
        } else if (Script::namesEntry(line)) {
            lines.refused.push_back(number);
        }
        begin = end + 1;
    }
    return lines;
}

bool assetExists(const char* name) {
    if (AssetArchive::find(name) != nullptr) {
        return true;
    }
    std::ifstream in(name, std::ios::binary);
    return static_cast<bool>(in);
}

bool printableByFont(const char* text, unsigned char& bad) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p < 32 || *p > 95) {
            bad = *p;
            return false;
        }
    }
    return true;
}

struct Box {
    double x0, y0, x1, y1;
};

// The rectangle a stab covers at rest: centred lines of 16 px glyphs, 20 px apart.
Box stabBox(const TextStabEntry& e) {
    std::vector<std::size_t> lengths{0};
    for (const char* p = e.text; *p; ++p) {
        if (*p == '%') {
            lengths.push_back(0);
        } else {
            ++lengths.back();
        }
    }
    const std::size_t widest = *std::max_element(lengths.begin(), lengths.end());
    const double w = static_cast<double>(widest) * 16.0;
    return {e.x - w / 2.0, e.y, e.x + w / 2.0, e.y + 20.0 * (lengths.size() - 1) + 16.0};
}

int lint(const DemoScript& s, const ScriptLines& lines, double musicLength) {
    int warnings = 0;
    for (const int number : lines.refused) {
        std::printf("line %d: refused by the parser, so it makes no entry\n", number);
        ++warnings;
    }
    auto warn = [&](int id, const char* format, auto... args) {
        const auto it = lines.byId.find(id);
        std::printf("line %d, id %d: ", it != lines.byId.end() ? it->second : 0, id);
        std::printf(format, args...);
        std::printf("\n");
        ++warnings;
    };
    auto checkSpan = [&](int id, double start, double end) {
        if (end < start) {
            warn(id, "ends (%.2f s) before it starts (%.2f s)", end, start);
        }
        if (musicLength > 0.0 && start >= musicLength) {
            warn(id, "starts at %.2f s, after the music's end at %.2f s", start, musicLength);
        } else if (musicLength > 0.0 && end > musicLength) {
            warn(id, "ends at %.2f s, after the music's end at %.2f s", end, musicLength);
        }
    };
    auto checkText = [&](int id, const char* text) {
        unsigned char bad = 0;
        if (!printableByFont(text, bad)) {
            warn(id, "text has byte %u, which the font cannot show (it has 32 to 95)", bad);
        }
    };

    Timeline names;
    for (const SceneEntry& e : s.scenes) {
        if (names.find(e.name) == nullptr) {
            warn(e.id, "unknown scene name \"%s\"", e.name);
        }
        checkSpan(e.id, e.start, e.end);
    }
    for (const OverlayEntry& e : s.overlays) {
        if (!assetExists(e.path)) {
            warn(e.id, "image \"%s\" is neither in the archive nor on disk", e.path);
        }
        checkSpan(e.id, e.start, e.end);
    }
    for (const ScrollTextEntry& e : s.scrollTexts) {
        if (!assetExists(e.font)) {
            warn(e.id, "font \"%s\" is neither in the archive nor on disk", e.font);
        }
        if (musicLength > 0.0 && e.start >= musicLength) {
            warn(e.id, "starts at %.2f s, after the music's end at %.2f s", e.start, musicLength);
        }
        checkText(e.id, e.text);
    }
    for (std::size_t i = 0; i < s.textStabs.size(); ++i) {
        const TextStabEntry& e = s.textStabs[i];
        if (!assetExists(e.font)) {
            warn(e.id, "font \"%s\" is neither in the archive nor on disk", e.font);
        }
        checkSpan(e.id, e.start, e.end);
        checkText(e.id, e.text);
        for (std::size_t j = 0; j < i; ++j) {
            const TextStabEntry& o = s.textStabs[j];
            const Box a = stabBox(e);
            const Box b = stabBox(o);
            const bool sameTime = e.start < o.end && o.start < e.end;
            const bool samePlace = a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
            if (sameTime && samePlace) {
                warn(e.id, "overlaps stab id %d on screen at the same time", o.id);
            }
        }
    }
    return warnings;
}

// ---------------------------------------------------------------- SVG

std::string tagged(const char* name, int id) {
    char label[300];
    std::snprintf(label, sizeof label, "%s%s#%d", name, *name ? " " : "", id);
    return label;
}

// The timeline picture's geometry: the envelopes on top, four lanes of
// entries below and the time axis at the bottom, 12 px a second.
struct TimelineLayout {
    double end = 0.0; // seconds shown, a whole number of tens
    const double pxPerSecond = 12.0;
    const double left = 120.0;
    const double laneH = 26.0;
    const double envelopeTop = 40.0;
    const double envelopeH = 90.0;
    const double lanesTop = envelopeTop + envelopeH + 20.0;
    double width = 0.0;
    double height = 0.0;

    explicit TimelineLayout(double shownEnd)
        : end(shownEnd), width(left + shownEnd * pxPerSecond + 20.0),
          height(lanesTop + 4 * (laneH * 2 + 8.0) + 50.0) {}
    double x(double t) const { return left + t * pxPerSecond; }
    double laneTop(int lane) const { return lanesTop + lane * (laneH * 2 + 8.0); }
};

// The last second anything is scheduled or heard, rounded up to ten.
double shownEnd(const DemoScript& s, const Music& music) {
    double end = std::max(s.endTime, music.length);
    for (const OverlayEntry& e : s.overlays) {
        end = std::max(end, e.end);
    }
    for (const TextStabEntry& e : s.textStabs) {
        end = std::max(end, e.end);
    }
    return std::ceil(std::max(end, 1.0) / 10.0) * 10.0;
}

// Bass and treble envelopes, peaks over 0.1 s, with the 0.6 line the levels tool counts.
void svgEnvelopes(std::FILE* f, const TimelineLayout& layout, const Music& music) {
    auto envelope = [&](const std::vector<float>& levels, const char* colour, const char* name,
                        double labelY) {
        if (levels.empty()) {
            return;
        }
        std::fprintf(f, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"0.8\" points=\"",
                     colour);
        const std::size_t stride = 6; // 10 points a second
        for (std::size_t i = 0; i < levels.size(); i += stride) {
            float peak = 0.0f;
            for (std::size_t j = i; j < std::min(levels.size(), i + stride); ++j) {
                peak = std::max(peak, levels[j]);
            }
            std::fprintf(f, "%.1f,%.1f ", layout.x(i / 60.0),
                         layout.envelopeTop + layout.envelopeH * (1.0 - peak));
        }
        std::fprintf(f, "\"/>\n<text x=\"8\" y=\"%.0f\" fill=\"%s\">%s</text>\n", labelY, colour,
                     name);
    };
    envelope(music.bass, "#ff6a3d", "bass", layout.envelopeTop + 30);
    envelope(music.treble, "#4dd2ff", "treble", layout.envelopeTop + 50);
    std::fprintf(f,
                 "<line x1=\"%.1f\" x2=\"%.1f\" y1=\"%.1f\" y2=\"%.1f\" stroke=\"#555\" "
                 "stroke-dasharray=\"2,3\"/>\n",
                 layout.x(0), layout.x(layout.end), layout.envelopeTop + layout.envelopeH * 0.4,
                 layout.envelopeTop + layout.envelopeH * 0.4);
}

// One bar per entry; entries alternate between two rows of their lane so
// neighbours stay readable.
void svgEntries(std::FILE* f, const TimelineLayout& layout, const DemoScript& s) {
    const char* laneNames[] = {"scenes", "overlays", "scroll texts", "stabs"};
    for (int lane = 0; lane < 4; ++lane) {
        const double y = layout.laneTop(lane);
        std::fprintf(f,
                     "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#1c1c28\"/>"
                     "<text x=\"8\" y=\"%.1f\" fill=\"#ccc\">%s</text>\n",
                     layout.x(0), y, layout.end * layout.pxPerSecond, layout.laneH * 2,
                     y + layout.laneH, laneNames[lane]);
    }
    auto bar = [&](int lane, int index, double a, double b, double fadeIn, double fadeOut,
                   const char* colour, const std::string& label) {
        const double top = layout.laneTop(lane) + (index % 2) * layout.laneH + 2.0;
        const double h = layout.laneH - 4.0;
        const double x0 = layout.x(a);
        const double x1 = layout.x(std::max(a, b));
        const double in = std::min(std::max(fadeIn, 0.0) * layout.pxPerSecond, x1 - x0);
        const double out = std::min(std::max(fadeOut, 0.0) * layout.pxPerSecond, x1 - x0);
        // The fade ramps as slopes: opacity rises over the fade-in, falls over the fade-out.
        std::fprintf(f,
                     "<polygon fill=\"%s\" fill-opacity=\"0.75\" points=\"%.1f,%.1f %.1f,%.1f "
                     "%.1f,%.1f %.1f,%.1f\"/>\n",
                     colour, x0, top + h, x0 + in, top, x1 - out, top, x1, top + h);
        std::fprintf(f, "<text x=\"%.1f\" y=\"%.1f\" fill=\"#fff\">%s</text>\n", x0 + 2,
                     top + h - 6, label.c_str());
    };
    int i = 0;
    for (const SceneEntry& e : s.scenes) {
        bar(0, i++, e.start, e.end, e.fadeIn, e.fadeOut, "#7b5cff", tagged(e.name, e.id));
    }
    i = 0;
    for (const OverlayEntry& e : s.overlays) {
        const char* slash = std::strrchr(e.path, '/');
        bar(1, i++, e.start, e.end, e.fadeIn, e.fadeOut, "#2fa36b",
            tagged(slash ? slash + 1 : e.path, e.id));
    }
    i = 0;
    for (const ScrollTextEntry& e : s.scrollTexts) {
        // On screen until the last glyph (16 px each) has left the 320 px canvas.
        const double gone =
            e.speed > 0.0f ? e.start + (320.0 + 16.0 * std::strlen(e.text)) / e.speed : e.start;
        bar(2, i++, e.start, gone, 0.0, 0.0, "#d9a400", tagged("", e.id));
    }
    i = 0;
    for (const TextStabEntry& e : s.textStabs) {
        bar(3, i++, e.start, e.end, e.fadeIn, e.fadeOut, "#e0457b", tagged("", e.id));
    }
}

// Time axis: seconds with their frame numbers, and the loop point.
void svgAxis(std::FILE* f, const TimelineLayout& layout, const DemoScript& s) {
    const double axisY = layout.height - 34.0;
    for (double t = 0.0; t <= layout.end + 1e-9; t += 10.0) {
        std::fprintf(f,
                     "<line x1=\"%.1f\" x2=\"%.1f\" y1=\"%.1f\" y2=\"%.1f\" stroke=\"#333\"/>"
                     "<text x=\"%.1f\" y=\"%.1f\" fill=\"#aaa\" text-anchor=\"middle\">%.0f s"
                     "</text><text x=\"%.1f\" y=\"%.1f\" fill=\"#777\" text-anchor=\"middle\">"
                     "f %.0f</text>\n",
                     layout.x(t), layout.x(t), layout.envelopeTop, axisY, layout.x(t), axisY + 12,
                     t, layout.x(t), axisY + 24, t * s.fps);
    }
    const double loopX = layout.x(s.loopTime);
    std::fprintf(f,
                 "<line x1=\"%.1f\" x2=\"%.1f\" y1=\"%.1f\" y2=\"%.1f\" stroke=\"#ff3d3d\" "
                 "stroke-width=\"2\"/><text x=\"%.1f\" y=\"%.1f\" fill=\"#ff3d3d\">loop</text>\n",
                 loopX, loopX, layout.envelopeTop, axisY, loopX + 3, layout.envelopeTop + 10);
}

bool writeTimeline(const std::string& path, const DemoScript& s, const Music& music) {
    const TimelineLayout layout(shownEnd(s, music));
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        std::fprintf(stderr, "quex_inspect: cannot write %s\n", path.c_str());
        return false;
    }
    std::fprintf(f,
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                 "font-family=\"monospace\" font-size=\"10\">\n"
                 "<rect width=\"100%%\" height=\"100%%\" fill=\"#12121a\"/>\n"
                 "<text x=\"8\" y=\"20\" fill=\"#eee\" font-size=\"14\">quex_invi schedule: "
                 "fps %d, end %.2f s, loop %.2f s, music %.2f s</text>\n",
                 layout.width, layout.height, s.fps, s.endTime, s.loopTime, music.length);
    svgEnvelopes(f, layout, music);
    svgEntries(f, layout, s);
    svgAxis(f, layout, s);
    std::fprintf(f, "</svg>\n");
    return std::fclose(f) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (answeredHelpOrVersion(argc, argv, kHelp)) {
        return 0;
    }
    const char* path = nullptr;
    bool mem = false;
    bool doLint = false;
    const char* svg = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--mem") == 0) {
            mem = true;
        } else if (std::strcmp(argv[i], "--lint") == 0) {
            doLint = true;
        } else if (std::strcmp(argv[i], "--timeline") == 0 && i + 1 < argc) {
            svg = argv[++i];
        } else if (argv[i][0] == '-' || path != nullptr) {
            std::fprintf(stderr, "quex_inspect: bad argument: %s\n%s", argv[i], kUsage);
            return 2;
        } else {
            path = argv[i];
        }
    }
    if (mem && path == nullptr) {
        std::fprintf(stderr, "quex_inspect: --mem needs a script file\n%s", kUsage);
        return 2;
    }

    DemoScript script;
    std::string text;
    if (path == nullptr) {
        std::size_t size = 0;
        const unsigned char* bytes = AssetArchive::find(kScriptName, &size);
        if (bytes == nullptr) {
            std::fprintf(stderr, "quex_inspect: no embedded script\n");
            return 1;
        }
        text.assign(reinterpret_cast<const char*>(bytes), size);
        Script::load_mem(text.data(), text.size(), script);
    } else {
        std::ifstream in(path, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        const bool ok =
            mem ? Script::load_mem(text.data(), text.size(), script) : Script::load(path, script);
        if (!ok || !in) {
            return 1;
        }
    }

    if (!doLint && svg == nullptr) {
        printJson(script);
        return 0;
    }
    int status = 0;
    const Music music = analyseMusic();
    if (doLint) {
        // Parsing again only to learn line numbers; its messages were shown already.
        std::fflush(stderr);
        const int saved = dup(STDERR_FILENO);
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDERR_FILENO);
        const ScriptLines lines = lineNumbers(text);
        std::fflush(stderr);
        dup2(saved, STDERR_FILENO);
        close(devNull);
        close(saved);
        status = lint(script, lines, music.length) > 0 ? 1 : 0;
    }
    if (svg != nullptr && !writeTimeline(svg, script, music)) {
        return 1;
    }
    return status;
}
