#include "Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform {

namespace {
QString& FolderOverride() {
    static QString folder;
    return folder;
}

// Shipped files the station reads from its working directory.
const char* const kShippedFiles[] = {"Amputado.BMP", "fmodelo.bemepe"};

bool UsesPerUserFolder() {
    const QString program = ProgramFolder();
    return QFileInfo::exists(QDir(program).filePath(QLatin1String(kPerUserMarker))) ||
           !QFileInfo(program).isWritable();
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

QString DataFolder() {
    if (!UsesPerUserFolder())
        return ProgramFolder();
    // One folder for both programs, whatever the running program is called.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("TrazelIB"));
}

QString DataFile(const QString& name) {
    return QDir(DataFolder()).filePath(name);
}

QString PrepareDataFolder() {
    const QString folder = DataFolder();
    if (folder == ProgramFolder())
        return QString();
    if (!QDir().mkpath(folder))
        return QStringLiteral("Unable to create folder %1").arg(folder);
    const QDir data(folder);
    for (const char* name : kShippedFiles) {
        const QString link = data.filePath(QLatin1String(name));
        // A file of the user's own (or a dangling link to replace) decides by its name alone.
        if (QFileInfo(link).isSymLink() && !QFileInfo::exists(link))
            QFile::remove(link);
        if (!QFileInfo(link).isSymLink() && !QFileInfo::exists(link) &&
            QFileInfo::exists(ProgramFile(QLatin1String(name))))
            QFile::link(ProgramFile(QLatin1String(name)), link);
    }
    return QString();
}

QString WorkingFolder() {
    return QDir::currentPath();
}

} // namespace platform
