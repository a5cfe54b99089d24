#include "Paths.h"

#include <QCoreApplication>
#include <QDir>

namespace platform {

QString ProgramFolder() {
    return QCoreApplication::applicationDirPath();
}

QString ProgramFile(const QString& name) {
    return QDir(ProgramFolder()).filePath(name);
}

QString WorkingFolder() {
    return QDir::currentPath();
}

} // namespace platform
