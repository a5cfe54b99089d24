#pragma once
// Where the programs find their files. The programs run with their program folder as the
// working directory: slot files are named relative to it, while the settings file and the
// helper programs are addressed through the program folder itself.
#include <QString>

namespace platform {

// Folder of the running program (build/bin in a build tree).
QString ProgramFolder();

// Makes ProgramFolder answer another folder (tests run the windows in a scratch folder that
// holds what the program folder would); an empty path restores the real one.
void SetProgramFolderForTesting(const QString& folder);

// A file in the program folder.
QString ProgramFile(const QString& name);

// The current working directory.
QString WorkingFolder();

} // namespace platform
