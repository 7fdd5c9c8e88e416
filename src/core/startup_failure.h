#pragma once

#include <string>

// Tells the viewer that the demo could not start. The lines logged to stderr
// say why; a Windows GUI process started from Explorer has no console, so
// there they are also shown in a message box (this blocks until it is
// dismissed). Elsewhere stderr is where a viewer looks, and nothing more
// happens.
void showStartupFailure(const std::string& loggedLines);
