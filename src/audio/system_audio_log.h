#pragma once

// Stops the operating system's sound library from printing to stderr behind
// the program's back (ALSA does when a machine has no card). Call it before
// the audio device is first opened; calling it again does nothing.
void quietSystemAudioLog();
