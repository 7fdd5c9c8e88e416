#include "text/stab_manager.h"

#include "script/entry_records.h"

#include <algorithm>

namespace {

void copyPlacement(TextStab& stab, const TextStabEntry& entry) {
    stab.start = entry.start;
    stab.end = entry.end;
    stab.fadeIn = entry.fadeIn;
    stab.fadeOut = entry.fadeOut;
    stab.x = entry.x;
    stab.y = entry.y;
    stab.text = fieldString(entry.text);
}

// Nothing when the entry's font cannot be had.
std::optional<TextStab> makeStab(const TextStabEntry& entry) {
    TextStab stab;
    copyPlacement(stab, entry);
    stab.scale = kTextScale;
    stab.id = entry.id;
    const std::string path = fieldString(entry.font);
    if (!loadEntryFont(stab.font, path, "StabManager")) {
        return std::nullopt;
    }
    stab.fontPath = path;
    return stab;
}

void refreshStab(TextStab& stab, const TextStabEntry& entry) {
    copyPlacement(stab, entry);
    std::string path = fieldString(entry.font);
    if (path != stab.fontPath) {
        // The old path stays on failure, so the reload is tried again next frame.
        stab.font.atlas.release();
        if (loadEntryFont(stab.font, path, "StabManager")) {
            stab.fontPath = std::move(path);
        }
    }
}

} // namespace

float stabAlpha(const TextStab& stab, double time) {
    if (!(stab.start <= time && time <= stab.end)) {
        return 0.0f;
    }
    float a = 1.0f;
    if (stab.fadeIn > 0.0f) {
        a = std::min(static_cast<float>((time - stab.start) / stab.fadeIn), 1.0f);
    }
    if (stab.fadeOut > 0.0f) {
        a = std::min(static_cast<float>((stab.end - time) / stab.fadeOut), a);
    }
    return std::clamp(a, 0.0f, 1.0f);
}

std::vector<GlyphQuad> stabGlyphs(const TextStab& stab, float bass) {
    const float k = static_cast<float>(stab.scale) * (1.0f + 0.15f * bass);
    const float gw = static_cast<float>(stab.font.glyphW) * k;
    const float gh = static_cast<float>(stab.font.glyphH) * k;
    const float step = 1.25f * gh;
    const float restingHeight = static_cast<float>(stab.scale * stab.font.glyphH);
    const float top = stab.y - (gh - restingHeight) / 2.0f;

    std::vector<std::string> lines(1);
    for (const char ch : stab.text) {
        if (ch == '%') {
            lines.emplace_back();
        } else {
            lines.back() += ch;
        }
    }
    std::vector<GlyphQuad> glyphs;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        float x = stab.x - static_cast<float>(lines[i].size()) * gw / 2.0f;
        const float y = top + static_cast<float>(i) * step;
        for (const char ch : lines[i]) {
            glyphs.push_back({static_cast<unsigned char>(ch), x, y, gw, gh});
            x += gw;
        }
    }
    return glyphs;
}

bool StabManager::init(int width, int height, const DemoScript& script) {
    canvasWidth = width;
    canvasHeight = height;
    initGlyphProgram(shader, quad, projection, width, height);
    update(script);
    return true;
}

void StabManager::update(const DemoScript& script) {
    syncRecords(stabs, script.textStabs, makeStab, refreshStab,
                [](TextStab& stab) { stab.font.atlas.release(); });
}

void StabManager::render(double time, float bass, float /*treble*/) {
    if (stabs.empty()) {
        return;
    }
    beginGlyphs(shader, projection);
    for (const TextStab& stab : stabs) {
        const float alpha = stabAlpha(stab, time);
        // Without its atlas (a failed reload) a stab would show as solid blocks.
        if (alpha <= 0.0f || stab.font.atlas.id == 0) {
            continue;
        }
        stab.font.atlas.bind(0);
        drawGlyphs(shader, quad, stab.font, stabGlyphs(stab, bass), alpha);
    }
}

void StabManager::release() {
    for (TextStab& stab : stabs) {
        stab.font.atlas.release();
    }
    quad.release();
    shader.release();
}
