#include "Library.h"

#include "Paths.h"

#include <QDir>
#include <QFileInfo>

namespace platform {

QString LibraryFileName(const QString& baseName) {
    return QStringLiteral("lib%1.so").arg(baseName);
}

QString AssertionText(const char* module, int line) {
    return QStringLiteral("Assertion failure (%1, line %2)").arg(QLatin1String(module)).arg(line);
}

Library::Library(QString baseName) : FBaseName(std::move(baseName)) {}

Library::~Library() {
    Unload();
}

bool Library::Load() {
    if (FLib.isLoaded())
        return true;
    const QString file = LibraryFileName(FBaseName);
    // Explicit folders are tried by full path; the bare name goes to the dynamic loader.
    const QString candidates[] = {ProgramFile(file), FBaseName,
                                  QDir(WorkingFolder()).filePath(file)};
    for (const QString& candidate : candidates) {
        if (candidate != FBaseName && !QFileInfo::exists(candidate))
            continue;
        FLib.setFileName(candidate);
        if (FLib.load())
            return true;
    }
    FLib.setFileName(QString());
    return false;
}

QFunctionPointer Library::Resolve(const char* symbol) {
    return FLib.isLoaded() ? FLib.resolve(symbol) : nullptr;
}

void Library::Unload() {
    if (FLib.isLoaded())
        FLib.unload();
}

} // namespace platform
