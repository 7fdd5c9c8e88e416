#include "script/script.h"

#include "base/log.h"
#include "base/regular_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// One line of the script at most, with room for its terminator.
constexpr std::size_t kLineBuffer = 512;
constexpr std::size_t kTextCapacity = 511;

double framesToSeconds(int frames, double inv) {
    return frames * inv;
}

float fadeSeconds(int frames, double inv) {
    return static_cast<float>(frames * inv);
}

double inverseRate(const DemoScript& script) {
    return 1.0 / static_cast<double>(script.fps);
}

// Start, end and both fades of a scene, overlay or stab entry, from frames.
template <typename Entry>
void setSpan(Entry& entry, int start, int end, int fadeIn, int fadeOut, double inv) {
    entry.start = framesToSeconds(start, inv);
    entry.end = framesToSeconds(end, inv);
    entry.fadeIn = fadeSeconds(fadeIn, inv);
    entry.fadeOut = fadeSeconds(fadeOut, inv);
}

// Reads the value right after `key`, wherever the key stands in the line.
int readKey3(const char* line, const char* key, Float3& out) {
    const char* at = std::strstr(line, key);
    if (at == nullptr) {
        return 0;
    }
    return std::sscanf(at + std::strlen(key), "%f,%f,%f", &out[0], &out[1], &out[2]);
}

int readKey1(const char* line, const char* key, float& out) {
    const char* at = std::strstr(line, key);
    if (at == nullptr) {
        return 0;
    }
    return std::sscanf(at + std::strlen(key), "%f", &out);
}

// The bytes between the first two double quotes of the line, cut to the
// field's capacity; false when either quote is missing.
bool readQuoted(const char* line, char (&text)[kTextCapacity + 1]) {
    const char* open = std::strchr(line, '"');
    if (open == nullptr) {
        return false;
    }
    const char* close = std::strchr(open + 1, '"');
    if (close == nullptr) {
        return false;
    }
    const std::size_t length = std::min(static_cast<std::size_t>(close - open - 1), kTextCapacity);
    std::memcpy(text, open + 1, length);
    text[length] = '\0';
    return true;
}

void parseFps(const char* words, DemoScript& script) {
    int fps = 0;
    if (std::sscanf(words, "%*s %d", &fps) != 1) {
        return;
    }
    script.fps = fps < 1 ? 60 : fps;
}

void parseScroll(const char* words, DemoScript& script) {
    char word[8] = {};
    if (std::sscanf(words, "%*s %7s", word) != 1) {
        word[0] = '\0';
    }
    script.scroll = std::strcmp(word, "off") != 0;
}

void parseLoop(const char* words, DemoScript& script) {
    int frame = 0;
    if (std::sscanf(words, "%*s %d", &frame) != 1) {
        return;
    }
    script.loopTime = framesToSeconds(std::max(frame, 0), inverseRate(script));
}

void parseScene(const char* line, const char* words, DemoScript& script) {
    SceneEntry entry;
    int start = 0;
    int end = 0;
    int fadeIn = 0;
    int fadeOut = 0;
    if (std::sscanf(words, "%*s %31s %d %d %d %d", entry.name, &start, &end, &fadeIn, &fadeOut) !=
        5) {
        logLine(stderr, "[Script] bad scene line: %s", line);
        return;
    }
    setSpan(entry, start, end, fadeIn, fadeOut, inverseRate(script));

    if (const char* paren = std::strchr(line, '(')) {
        Palette3& p = entry.palette;
        const int read =
            std::sscanf(paren, "(%f,%f,%f) (%f,%f,%f) (%f,%f,%f)", &p.low[0], &p.low[1], &p.low[2],
                        &p.mid[0], &p.mid[1], &p.mid[2], &p.high[0], &p.high[1], &p.high[2]);
        entry.hasPalette = read == 9;
    }

    bool smoke = false;
    smoke |= readKey3(line, "cam=", entry.cam) == 3;
    smoke |= readKey1(line, "fov=", entry.fov) == 1;
    smoke |= readKey3(line, "lightdir=", entry.lightDir) == 3;
    smoke |= readKey1(line, "shadow=", entry.shadow) == 1;
    smoke |= readKey1(line, "lightpow=", entry.lightPow) == 1;
    entry.hasSmokeParams = smoke;

    entry.id = script.nextId++;
    script.endTime = std::max(script.endTime, entry.end);
    script.scenes.push_back(entry);
}

void parseOverlay(const char* line, const char* words, DemoScript& script) {
    OverlayEntry entry;
    int start = 0;
    int end = 0;
    int fadeIn = 0;
    int fadeOut = 0;
    if (std::sscanf(words, "%*s %255s %f %f %d %d %d %d", entry.path, &entry.x, &entry.y, &start,
                    &end, &fadeIn, &fadeOut) != 7) {
        logLine(stderr, "[Script] bad overlay line: %s", line);
        return;
    }
    setSpan(entry, start, end, fadeIn, fadeOut, inverseRate(script));

    int drift = 0;
    if (std::sscanf(words, "%*s %*s %*f %*f %*d %*d %*d %*d %d", &drift) == 1) {
        entry.drift = drift;
    }
    std::sscanf(words, "%*s %*s %*f %*f %*d %*d %*d %*d %*d %f %f %f", &entry.travelSpeed,
                &entry.travelX, &entry.travelY);

    entry.glow = readKey3(line, "glow=", entry.glowColor) == 3;
    readKey1(line, "glowgain=", entry.glowGain);
    readKey1(line, "glowradius=", entry.glowRadius);
    readKey1(line, "glowint=", entry.glowInt);

    entry.id = script.nextId++;
    script.overlays.push_back(entry);
}

void parseScrollText(const char* line, const char* words, DemoScript& script) {
    ScrollTextEntry entry;
    int start = 0;
    if (std::sscanf(words, "%*s %d %f %255s %f", &start, &entry.speed, entry.font, &entry.y) != 4) {
        logLine(stderr, "[Script] bad scrolltext line: %s", line);
        return;
    }
    entry.start = framesToSeconds(start, inverseRate(script));
    if (!readQuoted(line, entry.text)) {
        logLine(stderr, "[Script] scrolltext missing quoted text: %s", line);
        return;
    }
    entry.id = script.nextId++;
    script.scrollTexts.push_back(entry);
}

void parseTextStab(const char* line, const char* words, DemoScript& script) {
    TextStabEntry entry;
    int start = 0;
    int end = 0;
    int fadeIn = 0;
    int fadeOut = 0;
    if (std::sscanf(words, "%*s %d %d %d %d %255s %f %f", &start, &end, &fadeIn, &fadeOut,
                    entry.font, &entry.x, &entry.y) != 7) {
        logLine(stderr, "[Script] bad textstab line: %s", line);
        return;
    }
    setSpan(entry, start, end, fadeIn, fadeOut, inverseRate(script));
    if (!readQuoted(line, entry.text)) {
        logLine(stderr, "[Script] textstab missing quoted text: %s", line);
        return;
    }
    entry.id = script.nextId++;
    script.textStabs.push_back(entry);
}

void finish(DemoScript& script) {
    // Written so that a NaN end also falls back to the default length.
    if (!(script.endTime > 0.0)) {
        script.endTime = 120.0;
    }
}

} // namespace

bool Script::namesEntry(const char* line) {
    char keyword[32] = {};
    if (std::sscanf(line, "%31s", keyword) != 1) {
        return false;
    }
    return std::strcmp(keyword, "scene") == 0 || std::strcmp(keyword, "overlay") == 0 ||
           std::strcmp(keyword, "scrolltext") == 0 || std::strcmp(keyword, "textstab") == 0;
}

bool Script::load(const char* path, DemoScript& script, int* rejectedLines) {
    std::FILE* file = openRegularFile(path);
    if (file == nullptr) {
        logLine(stderr, "[Script] cannot open: %s\n", path);
        return false;
    }
    std::string bytes;
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, n);
    }
    std::fclose(file);
    return loadFileBytes(bytes.data(), bytes.size(), script, rejectedLines);
}

bool Script::loadFileBytes(const char* bytes, std::size_t size, DemoScript& script,
                           int* rejectedLines) {
    script = DemoScript{};
    if (rejectedLines != nullptr) {
        *rejectedLines = 0;
    }
    char line[kLineBuffer];
    std::size_t pos = 0;
    while (pos < size) {
        // As fgets reads a file: up to and with the line feed, at most a
        // buffer less one, so an over-long line goes on as the next.
        std::size_t length = std::min(size - pos, kLineBuffer - 1);
        if (const void* found = std::memchr(bytes + pos, '\n', length)) {
            length = static_cast<std::size_t>(static_cast<const char*>(found) - (bytes + pos)) + 1;
        }
        std::memcpy(line, bytes + pos, length);
        line[length] = '\0';
        pos += length;
        const int before = script.nextId;
        parseLine(line, script);
        if (rejectedLines != nullptr && script.nextId == before && namesEntry(line)) {
            ++*rejectedLines;
        }
    }
    finish(script);
    return true;
}

bool Script::load_mem(const char* bytes, std::size_t size, DemoScript& script) {
    script = DemoScript{};
    char line[kLineBuffer];
    std::size_t pos = 0;
    while (bytes != nullptr && pos < size) {
        const void* found = std::memchr(bytes + pos, '\n', size - pos);
        const std::size_t stop =
            found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - bytes)
                             : size;
        const std::size_t length = std::min(stop - pos, kLineBuffer - 1);
        std::memcpy(line, bytes + pos, length);
        line[length] = '\0';
        parseLine(line, script);
        pos = stop + 1;
    }
    finish(script);
    return true;
}

void Script::parseLine(const char* line, DemoScript& script) {
    if (line == nullptr) {
        return;
    }
    const char* words = line;
    while (*words == ' ' || *words == '\t') {
        ++words;
    }
    if (*words == '#' || *words == '\0' || *words == '\n' || *words == '\r') {
        return;
    }
    char keyword[32] = {};
    if (std::sscanf(words, "%31s", keyword) != 1) {
        return;
    }
    if (std::strcmp(keyword, "fps") == 0) {
        parseFps(words, script);
    } else if (std::strcmp(keyword, "scroll") == 0) {
        parseScroll(words, script);
    } else if (std::strcmp(keyword, "loop") == 0) {
        parseLoop(words, script);
    } else if (std::strcmp(keyword, "scene") == 0) {
        parseScene(line, words, script);
    } else if (std::strcmp(keyword, "overlay") == 0) {
        parseOverlay(line, words, script);
    } else if (std::strcmp(keyword, "scrolltext") == 0) {
        parseScrollText(line, words, script);
    } else if (std::strcmp(keyword, "textstab") == 0) {
        parseTextStab(line, words, script);
    }
}
