#include "Library.h"

#include "Paths.h"

#include <QFile>
#include <QFileInfo>

#include "sharedobj.h"

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

QString Library::Path() const {
    return ProgramFile(LibraryFileName(FBaseName));
}

bool Library::Load() {
    if (FLib.isLoaded())
        return true;
    FRefused = false;
    const QString path = Path();
    if (!QFileInfo(path).isFile())
        return false;
    if (!IsWholeSharedObject(path)) {
        FRefused = true;
        return false;
    }
    FLib.setFileName(QFileInfo(path).absoluteFilePath());
    if (FLib.load())
        return true;
    FLib.setFileName(QString());
    return false;
}

QFunctionPointer Library::Resolve(const char* symbol) {
    return FLib.isLoaded() ? FLib.resolve(symbol) : nullptr;
}

bool IsWholeSharedObject(const QString& path) {
    return so_check_file(QFile::encodeName(path).constData()) == SO_OK;
}

bool IsWholeSharedObject(const QByteArray& bytes) {
    return so_check_image(bytes.constData(), static_cast<size_t>(bytes.size())) == SO_OK;
}

void Library::Unload() {
    if (FLib.isLoaded())
        FLib.unload();
}

} // namespace platform
