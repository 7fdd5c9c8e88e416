#pragma once

#include "script/script.h"

#include <cstddef>
#include <functional>
#include <string>

// What a new version of the script does to the running one. Entries are
// matched by id within their own kind, as the timeline and the managers match
// their records: an id of another kind counts as one removed and one added.
struct ScriptChanges {
    int added = 0;
    int changed = 0; // same id, some field differs
    int removed = 0;
    bool settingsChanged = false; // fps, loop point or scroll switch
};

ScriptChanges compareScripts(const DemoScript& before, const DemoScript& after);

// The largest script a running demo reads again: the shipped one is a few
// kilobytes, and parsing runs between two frames.
constexpr std::size_t kMaxScriptBytes = 1u << 20;

// Reads a new version of a script file for a running demo into `out`. False,
// with a tagged line saying why, when it must not replace the running script:
// the file cannot be read, is empty (an editor half-way through writing it)
// or larger than kMaxScriptBytes, has lines the parser refused, names a scene
// that knownScene does not know, or names an image or font that cannot be
// loaded. The file is read once and those bytes are what is checked and
// parsed. With `lastBytes` (the bytes last accepted), a file holding exactly
// those is passed over without a word (false); bytes that are accepted
// replace them, refused ones do not.
bool readScriptUpdate(const char* path, const std::function<bool(const char*)>& knownScene,
                      DemoScript& out, std::string* lastBytes = nullptr);
