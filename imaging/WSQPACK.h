#pragma once
// Start-up binding of the in-process WSQ library (libWSQPACK.so). Nothing in the station
// calls its entry points: every conversion goes through the BMP2WSQ converter program. The
// binding only loads the library, checks that its three entry points are there and releases
// it at exit.
#include <cstddef>

// Loads the library unless it is loaded already. A missing library is silent. A library that
// lacks an entry point is released again and a platform::StationError with the text
// platform::AssertionText("WSQPACK", line) is raised; the program's start-up then stops.
void LoadWsqLibrary();
bool WsqLibraryLoaded();

// The entry points (nullptr until the library is loaded).
using WsqpackCompressFn = int (*)(const unsigned char*, int, int, int, double, unsigned char**,
                                  size_t*);
using WsqpackUncompressFn = int (*)(const unsigned char*, size_t, unsigned char**, int*, int*,
                                    int*);
using WsqpackFreeFn = void (*)(void*);
WsqpackCompressFn WsqpackCompress();
WsqpackUncompressFn WsqpackUncompress();
WsqpackFreeFn WsqpackFree();
