#pragma once
// NFIQ quality of the image a finger-slot viewer holds, the texts shown for it, and the fetch
// of the NFIQ library from the internal web server when it is missing.
#include "DibViewer.h"

#include <QString>

#include <cstdint>

// Status values of ScoreFingerImage below 0; 0 and above come from the library.
constexpr int32_t kNfiqNoMemory = -3;
constexpr int32_t kNfiqNoImage = -2;
constexpr int32_t kNfiqNoLibrary = -1;

// Scores the viewer's image. An empty viewer gives kNfiqNoImage and nothing else happens.
// Without the library (and when fetching it fails) the result is kNfiqNoLibrary. Otherwise
// the viewer's image is trimmed to a width that is a multiple of 4 (the slot then shows the
// trimmed image), copied top row first without row padding and handed to the library, whose
// status is returned. score is written only by the library.
int32_t ScoreFingerImage(TDibViewer& viewer, int32_t& score);

// "<score> (<label>)" or "<score> (<label> <status text>)" when the status has a text.
QString QualityText(int32_t status, int32_t score);
// "Error", "Excelente", "Muy buena", "Buena", "Regular", "Mala" for 0..5; empty otherwise.
QString QualityLabel(int32_t score);
// The reason for a status: the program's own for −3..−1, the library's for 1 and 2; empty
// for every other value.
QString QualityStatusText(int32_t status);

// When the library file is missing beside the program, fetches it into the program folder and
// loads it; shows "Error bajando desde "<address>"" when the fetch fails. False when the
// library is not loaded afterwards (also when a file is present but does not load).
bool EnsureNfiqLibrary();

// http://<host>/GBNFIQ.dll, the host fixed at build time (STATION_NFIQ_HOST) unless the
// environment variable STATION_NFIQ_HOST is set.
QString NfiqDownloadAddress();

// The SHA-256 (lowercase hex) the fetched library must match; empty when none was configured
// at build time.
QByteArray NfiqLibrarySha256();

// Copies the body of an http address into a local file: only a complete answer with status 200
// is written, through a temporary file renamed into place, so a failed fetch leaves nothing.
bool DownloadFile(const QString& address, const QString& targetFile);
