#pragma once
// Start-up of the ten-print station: after the modules (Modules.h), the splash is shown and
// painted and the windows are created in their fixed order, the main window first, so that
// it is the program's main window.
#include <QString>
#include <QStringList>

// The ten-print station's windows. args: the command-line arguments without the program name.
void CreateTrazelWindows(const QStringList& args);
void DestroyTrazelWindows();

// Runs a whole program: modules, windows, message loop, end. Returns its exit code.
int RunTrazelIB(const QStringList& args);
