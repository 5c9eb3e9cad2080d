#pragma once
#include <string_view>

// PortAudio prints the internal failures of its host APIs ("Expression 'ret' failed in
// 'src/hostapi/alsa/pa_linux_alsa.c', line: 1812") on the C library's stderr, and offers no
// exported switch for them. A user sees our own message for the same failure instead.

// Whether a line of stderr output is one of PortAudio's internal diagnostics.
bool isPortAudioDiagnostic(std::string_view line);

// Replaces the C library's stderr (once per process) by a stream that passes everything on to
// file descriptor 2 except PortAudio's diagnostics. C++ streams (std::cerr) keep writing to the
// original stream and are not affected.
void filterPortAudioDiagnostics();
