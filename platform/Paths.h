#pragma once
// Where the programs find their files. The program folder holds the programs, the converter,
// the libraries and the shipped pictures. The data folder holds what the station writes: the
// settings file, the slot files and the card files. In a build tree or a copied folder the two
// are one folder, as on a station's own desk machine; an installed station (its program folder
// carries the marker file kPerUserMarker, or the user cannot write there) keeps each user's
// data in $XDG_DATA_HOME/TrazelIB (normally ~/.local/share/TrazelIB). TrazelIB runs with the
// data folder as its working directory, so slot files are named relative to it.
#include <QString>

namespace platform {

// Name of the marker file an installed program folder carries.
inline constexpr const char* kPerUserMarker = "per-user-data";

// Folder of the running program (build/bin in a build tree).
QString ProgramFolder();

// Makes ProgramFolder answer another folder (tests run the windows in a scratch folder that
// holds what the program folder would); an empty path restores the real one.
void SetProgramFolderForTesting(const QString& folder);

// A file in the program folder.
QString ProgramFile(const QString& name);

// The folder for the station's own files (see above); it may not exist yet.
QString DataFolder();

// A file in the data folder.
QString DataFile(const QString& name);

// Creates the data folder when it is a per-user one and links into it the shipped files it
// lacks (the amputation picture and the card template), so the station finds them beside its
// slot files. Returns an empty string, or the text to show when the folder cannot be made.
QString PrepareDataFolder();

// The current working directory.
QString WorkingFolder();

} // namespace platform
