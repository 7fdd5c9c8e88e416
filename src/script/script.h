#pragma once

#include "base/types.h"

#include <cstddef>
#include <vector>

struct SceneEntry {
    char name[32] = {};
    double start = 0.0;
    double end = 0.0;
    float fadeIn = 0.0f;
    float fadeOut = 0.0f;
    bool hasPalette = false;
    Palette3 palette;
    bool hasSmokeParams = false;
    Float3 cam = kSmokeCam;
    float fov = kSmokeFov;
    Float3 lightDir = kSmokeLightDir;
    float shadow = kSmokeShadow;
    float lightPow = kSmokeLightPow;
    int id = 0;
};

struct OverlayEntry {
    char path[256] = {};
    float x = 0.0f;
    float y = 0.0f;
    double start = 0.0;
    double end = 0.0;
    float fadeIn = 0.0f;
    float fadeOut = 0.0f;
    int drift = 0;
    float travelSpeed = 0.0f;
    float travelX = 0.0f;
    float travelY = 0.0f;
    bool glow = false;
    Float3 glowColor{0.2f, 0.5f, 1.0f};
    float glowGain = 3.0f;
    float glowRadius = 12.0f;
    float glowInt = 1.0f;
    int id = 0;
};

struct ScrollTextEntry {
    double start = 0.0;
    float speed = 0.0f;
    char font[256] = {};
    float y = 0.0f;
    char text[512] = {};
    int id = 0;
};

struct TextStabEntry {
    double start = 0.0;
    double end = 0.0;
    float fadeIn = 0.0f;
    float fadeOut = 0.0f;
    char font[256] = {};
    float x = 0.0f;
    float y = 0.0f;
    char text[512] = {};
    int id = 0;
};

// The parsed demo script; a fresh object holds the defaults every load starts from.
struct DemoScript {
    int fps = 60;
    double endTime = 0.0;
    double loopTime = 0.0;
    bool scroll = true;
    int nextId = 0;
    std::vector<SceneEntry> scenes;
    std::vector<OverlayEntry> overlays;
    std::vector<ScrollTextEntry> scrollTexts;
    std::vector<TextStabEntry> textStabs;
};

class Script {
  public:
    // rejectedLines, when given, counts the entry lines that were refused
    // (each has logged why).
    static bool load(const char* path, DemoScript& script, int* rejectedLines = nullptr);
    // The bytes of a script file, split into lines exactly as load splits the
    // file: for a caller that has read (and checked) them itself.
    static bool loadFileBytes(const char* bytes, std::size_t size, DemoScript& script,
                              int* rejectedLines = nullptr);
    static bool load_mem(const char* bytes, std::size_t size, DemoScript& script);
    static void parseLine(const char* line, DemoScript& script);
    // Whether the line starts with a keyword that makes an entry, so that a
    // line which gave none was refused.
    static bool namesEntry(const char* line);
};
