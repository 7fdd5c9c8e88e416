#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// Records made for new entries are appended, so after an edit of the script
// (a line deleted and another added in one save) they can stand out of script
// order, which is also the drawing order. This puts them back; with an
// unchanged script the records are already in order and nothing moves.
template <class Record, class Entry>
void keepScriptOrder(std::vector<Record>& records, const std::vector<Entry>& entries) {
    const auto position = [&entries](int id) {
        const auto it = std::find_if(entries.begin(), entries.end(),
                                     [id](const Entry& e) { return e.id == id; });
        return static_cast<std::size_t>(it - entries.begin());
    };
    const auto before = [&position](const Record& a, const Record& b) {
        return position(a.id) < position(b.id);
    };
    if (!std::is_sorted(records.begin(), records.end(), before)) {
        std::stable_sort(records.begin(), records.end(), before);
    }
}
