#include "Paths.h"

#include <QCoreApplication>
#include <QDir>

namespace platform {

namespace {
QString& FolderOverride() {
    static QString folder;
    return folder;
}
} // namespace

QString ProgramFolder() {
    if (!FolderOverride().isEmpty())
        return FolderOverride();
    return QCoreApplication::applicationDirPath();
}

void SetProgramFolderForTesting(const QString& folder) {
    FolderOverride() = folder;
}

QString ProgramFile(const QString& name) {
    return QDir(ProgramFolder()).filePath(name);
}

QString WorkingFolder() {
    return QDir::currentPath();
}

} // namespace platform
