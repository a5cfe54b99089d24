#pragma once
// The temporary file that holds the composed card while it is shown.
#include <QString>

// A new, empty file in the given folder for the card of a set with this reference: its name is
// "ficha-" + the reference with every character that is not allowed in a file name (path
// separators, control characters, and : * ? " < > |) replaced by '_', cut to 64 characters,
// + "-" + a unique suffix + ".bmp". The file is created exclusively, so it never replaces
// another file (a slot file, the template, an earlier card), and no reference can place it
// outside the folder. Raises platform::StationError when it cannot be created.
QString CreateCardFile(const QString& folder, const QString& reference);

// The reference as it appears in the card file's name.
QString CardFileStem(const QString& reference);
