#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
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

// Keeps one runtime record per script entry, matched by id, so that an edited
// script changes only what it changed: a record whose entry is gone is
// dropped (drop(record) frees what it holds), a matched one is refreshed
// (refresh(record, entry)), and a new entry gets make(entry), which may give
// nothing when no record can be made for it. Records end in script order.
template <class Record, class Entry, class Make, class Refresh, class Drop>
void syncRecords(std::vector<Record>& records, const std::vector<Entry>& entries, Make make,
                 Refresh refresh, Drop drop) {
    std::erase_if(records, [&](Record& record) {
        const bool present = std::any_of(entries.begin(), entries.end(),
                                         [&](const Entry& e) { return e.id == record.id; });
        if (!present) {
            drop(record);
        }
        return !present;
    });
    for (const Entry& entry : entries) {
        const auto match = std::find_if(records.begin(), records.end(),
                                        [&](const Record& r) { return r.id == entry.id; });
        if (match != records.end()) {
            refresh(*match, entry);
        } else if (std::optional<Record> record = make(entry)) {
            records.push_back(std::move(*record));
        }
    }
    keepScriptOrder(records, entries);
}
