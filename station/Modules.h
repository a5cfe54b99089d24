#pragma once
// The modules both programs start before any window exists: the finger-scan component with
// the ScanMan library, and the NFIQ and WSQ libraries (silently when absent).
#include <QString>

// Returns an empty text, or the error of the finger-scan component's start, which the program
// shows in a message box before it ends with exit code 1.
QString StartModules();
// Ends the modules, after the windows are gone.
void EndModules();
