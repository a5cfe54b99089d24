#pragma once
// Start-up of the ten-print station after its libraries are bound: the splash is shown and
// painted, then the windows are created in their fixed order (main window first, so it is
// the program's main window) and the main window's start timer is enabled.
#include <QStringList>

// args: the command-line arguments without the program name.
void CreateTrazelWindows(const QStringList& args);
// Releases what CreateTrazelWindows made (the program's end; benchmarks and tests).
void DestroyTrazelWindows();
