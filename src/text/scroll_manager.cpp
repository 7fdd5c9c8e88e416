#include "text/scroll_manager.h"

#include "script/entry_records.h"

namespace {

float textWidth(const ScrollText& scroll) {
    return static_cast<float>(scroll.text.size()) * static_cast<float>(scroll.font.glyphW) *
           static_cast<float>(scroll.scale);
}

// Nothing when the entry's font cannot be had.
std::optional<ScrollText> makeScroll(const ScrollTextEntry& entry) {
    ScrollText scroll;
    scroll.start = entry.start;
    scroll.speed = entry.speed;
    scroll.y = entry.y;
    scroll.text = fieldString(entry.text);
    scroll.scale = kTextScale;
    scroll.id = entry.id;
    const std::string path = fieldString(entry.font);
    if (!loadEntryFont(scroll.font, path, "ScrollManager")) {
        return std::nullopt;
    }
    scroll.fontPath = path;
    scroll.width = textWidth(scroll);
    return scroll;
}

void refreshScroll(ScrollText& scroll, const ScrollTextEntry& entry) {
    scroll.start = entry.start;
    scroll.speed = entry.speed;
    scroll.y = entry.y;
    std::string text = fieldString(entry.text);
    if (text != scroll.text) {
        scroll.text = std::move(text);
        scroll.width = textWidth(scroll);
    }
    std::string path = fieldString(entry.font);
    if (path != scroll.fontPath) {
        // The old path stays on failure, so the reload is tried again next frame.
        scroll.font.atlas.release();
        if (loadEntryFont(scroll.font, path, "ScrollManager")) {
            scroll.fontPath = std::move(path);
            scroll.width = textWidth(scroll);
        }
    }
}

} // namespace

std::vector<GlyphQuad> scrollTextGlyphs(const ScrollText& scroll, double time, int canvasWidth) {
    const float t = static_cast<float>(time - scroll.start);
    if (t < 0.0f) {
        return {};
    }
    const float x0 = static_cast<float>(canvasWidth) - t * scroll.speed;
    if (x0 + scroll.width <= 0.0f) {
        return {};
    }
    const float advance = static_cast<float>(scroll.scale * scroll.font.glyphW);
    const float height = static_cast<float>(scroll.scale * scroll.font.glyphH);
    return waveGlyphs(scroll.text, x0, scroll.y, t, advance, height, canvasWidth);
}

bool ScrollManager::init(int width, int height, const DemoScript& script) {
    canvasWidth = width;
    canvasHeight = height;
    initGlyphProgram(shader, quad, projection, width, height);
    update(script);
    return true;
}

void ScrollManager::update(const DemoScript& script) {
    syncRecords(scrolls, script.scrollTexts, makeScroll, refreshScroll,
                [](ScrollText& scroll) { scroll.font.atlas.release(); });
}

void ScrollManager::render(double time) {
    if (scrolls.empty()) {
        return;
    }
    beginGlyphs(shader, projection);
    for (const ScrollText& scroll : scrolls) {
        // Without its atlas (a failed reload) a text would show as solid blocks.
        if (scroll.font.atlas.id == 0) {
            continue;
        }
        const std::vector<GlyphQuad> glyphs = scrollTextGlyphs(scroll, time, canvasWidth);
        if (glyphs.empty()) {
            continue;
        }
        scroll.font.atlas.bind(0);
        drawGlyphs(shader, quad, scroll.font, glyphs, 1.0f);
    }
}

void ScrollManager::release() {
    for (ScrollText& scroll : scrolls) {
        scroll.font.atlas.release();
    }
    quad.release();
    shader.release();
}
