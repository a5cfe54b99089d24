#pragma once
// The station's log: one line per event worth telling an operator or an integrator about
// (a dropped scanner image, for example), written to the standard error stream as
// "<program>: <text>". Callable from any thread; each line is written in one piece.
#include <QString>

namespace platform {

void LogLine(const QString& text);

} // namespace platform
