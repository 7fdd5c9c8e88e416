#include "core/startup_failure.h"

#ifdef _WIN32
#include <windows.h>

namespace {

BOOL CALLBACK hideWindow(HWND window, LPARAM) {
    ShowWindow(window, SW_HIDE);
    return TRUE;
}

} // namespace

void showStartupFailure(const std::string& loggedLines) {
    // The full-screen window, if one opened, stays on top of everything: hide
    // it, so that the box is seen.
    EnumThreadWindows(GetCurrentThreadId(), hideWindow, 0);
    const std::string text = "quex_invi could not start:\n\n" + loggedLines;
    MessageBoxA(nullptr, text.c_str(), "quex_invi",
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
}
#else
void showStartupFailure(const std::string&) {}
#endif
