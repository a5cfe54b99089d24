#pragma once
// WSQ conversion of a slot bitmap through the converter program BMP2WSQ, which lies in the
// program folder; it runs in the folder of the files with the two bare file names as its
// arguments.
#include <QString>

// Name of the converter program in the program folder.
inline constexpr const char* kWsqConverterName = "BMP2WSQ";

// Converts bmpName into wsqName, both bare names resolved in `folder`; when folder is given the
// converter is taken from there too, otherwise the files lie in the data folder and the
// converter in the program folder. bmpName is trimmed of blanks and control characters first;
// wsqName is used as it is. A WSQ file of that name from an earlier run is deleted before the
// converter starts, and the result is true exactly when the converter ended without crashing
// and the WSQ file exists afterwards. On false, errorText says why:
//   "ERROR: No existe archivo origen"       the source bitmap is missing;
//   "ERROR: No se pudo generar " + wsqName  the converter is missing, would not start,
//                                           wrote no file, or crashed (whatever it left
//                                           under wsqName is removed then).
// On true errorText is left as it was. Windows keep repainting while the converter runs;
// user input waits until it has ended.
bool ConvertToWsq(const QString& bmpName, const QString& wsqName, QString& errorText,
                  const QString& folder = QString());
