#include "Log.h"

#include <QCoreApplication>

#include <cstdio>

namespace platform {

void LogLine(const QString& text) {
    const QString program = QCoreApplication::instance() ? QCoreApplication::applicationName()
                                                         : QStringLiteral("station");
    const QByteArray line = (program + QStringLiteral(": ") + text + QLatin1Char('\n')).toUtf8();
    // One write of the whole line, so lines of several threads never interleave.
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace platform
