// What every packaged tool answers the same way: --help (what it does and its
// options, on standard output) and --version. The manual pages are made from
// this output by help2man at build time, so the two cannot disagree.
#pragma once

#include <cstdio>
#include <cstring>
#include <optional>

#ifndef QUEX_VERSION
#error "the build defines QUEX_VERSION (CMakeLists.txt)"
#endif

struct ToolHelp {
    const char* name;  // the program's name, as installed
    const char* about; // one paragraph on what it does
    const char* usage; // "usage: NAME ..." and the option lines, as printed on a bad argument
    const char* notes; // closing paragraphs (exit codes, files, examples), or nullptr
};

// True when an argument is --help or --version: the answer is printed and the
// tool should exit with 0.
inline bool answeredHelpOrVersion(int argc, char** argv, const ToolHelp& help) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s (quex_invi) %s\n"
                        "Copyright (c) 2026 the quex_invi developers.\n"
                        "MIT licence: free to use, copy, modify and share.\n",
                        help.name, QUEX_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            // The usage lines first, then what the tool does, then its options:
            // the layout help2man turns into SYNOPSIS, DESCRIPTION and OPTIONS.
            const char* options = help.usage;
            while ((options = std::strchr(options, '\n')) != nullptr &&
                   !(options[1] == ' ' && options[2] == ' ' && options[3] != ' ')) {
                ++options;
            }
            options = options != nullptr ? options + 1 : "";
            const bool lower = std::strncmp(help.usage, "usage:", 6) == 0;
            std::printf("%s%.*s\n%s\nOptions:\n%s", lower ? "U" : "",
                        static_cast<int>(options - help.usage) - (lower ? 1 : 0),
                        help.usage + (lower ? 1 : 0), help.about, options);
            std::printf("  --help              print this help and exit\n"
                        "  --version           print the version and exit\n");
            if (help.notes != nullptr) {
                std::printf("\n%s", help.notes);
            }
            return true;
        }
    }
    return false;
}

// The start of every tool's main: --help and --version are answered (status 0);
// otherwise `parse` fills the options, and when it refuses an argument (having
// said why) the usage follows on standard error (status 2). Returns the status
// to exit with, or nothing when the tool goes on.
template <class Options>
std::optional<int> readCommandLine(int argc, char** argv, const ToolHelp& help,
                                   bool (*parse)(int, char**, Options&), Options& options) {
    if (answeredHelpOrVersion(argc, argv, help)) {
        return 0;
    }
    if (!parse(argc, argv, options)) {
        std::fputs(help.usage, stderr);
        return 2;
    }
    return std::nullopt;
}
