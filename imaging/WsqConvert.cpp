#include "WsqConvert.h"

#include "Paths.h"
#include "Process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Strips blanks and control characters (everything up to U+0020) from both ends.
QString TrimControls(const QString& s) {
    qsizetype first = 0, last = s.size();
    while (first < last && s[first].unicode() <= 0x20)
        ++first;
    while (last > first && s[last - 1].unicode() <= 0x20)
        --last;
    return s.mid(first, last - first);
}

bool IsFile(const QString& path) {
    return QFileInfo(path).isFile();
}

} // namespace

bool ConvertToWsq(const QString& bmpName, const QString& wsqName, QString& errorText,
                  const QString& folder) {
    const QDir dir(folder.isEmpty() ? platform::DataFolder() : folder);
    const QString converter = folder.isEmpty()
                                  ? platform::ProgramFile(QLatin1String(kWsqConverterName))
                                  : dir.filePath(QLatin1String(kWsqConverterName));
    const QString source = TrimControls(bmpName);
    if (source.isEmpty() || !IsFile(dir.filePath(source))) {
        errorText = QStringLiteral("ERROR: No existe archivo origen");
        return false;
    }
    QFile::remove(dir.filePath(wsqName));
    // Whether the converter started is told by the result file alone. A converter that
    // crashed may have left its target half-written: such a file is no result and is removed.
    bool crashed = false;
    platform::RunAndWait(converter, {source, wsqName}, dir.absolutePath(), &crashed);
    if (crashed)
        QFile::remove(dir.filePath(wsqName));
    else if (!wsqName.isEmpty() && IsFile(dir.filePath(wsqName)))
        return true;
    errorText = QStringLiteral("ERROR: No se pudo generar ") + wsqName;
    return false;
}
