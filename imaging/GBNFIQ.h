#pragma once
#include <QString>

// Binding of the NFIQ library (libGBNFIQ.so, loaded by the name "GBNFIQ"). It is loaded once
// while the program starts; a missing library is silent and may be fetched later. Once loaded
// it stays loaded until the program ends, when it is released.

using GbnfiqGetImageQualityFn = int (*)(const unsigned char* pixels, int width, int height,
                                        int* score, int reserved);
using GbnfiqGetVersionFn = int (*)(int*, int*, int*, int*);

// Loads the library and resolves both entry points unless it is loaded already. A library
// without one of them is released again and a platform::StationError with the text
// "Assertion failure (GBNFIQ, line 173)" (version) or "... line 177)" (quality) is raised.
void LoadNfiqLibrary();

// Tries LoadNfiqLibrary, then tells whether the library is loaded.
bool NfiqLibraryLoaded();

// The quality entry point; nullptr while the library is not loaded.
GbnfiqGetImageQualityFn NfiqGetImageQuality();

// The file the library was loaded from (empty when not loaded).
QString NfiqLibraryFile();
