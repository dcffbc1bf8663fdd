// Process-wide start of the media framework, made by the main window while it initialises and
// by the command-line tool before its first duration probe.
#pragma once

// Initialises GStreamer for this process. Safe to call more than once; returns false when the
// framework cannot be initialised (no graph can then be built).
bool MediaFrameworkInitialize();

// Balances one MediaFrameworkInitialize. GStreamer cannot be initialised again after it has
// been shut down within one process, so the framework itself stays loaded until exit.
void MediaFrameworkUninitialize();
