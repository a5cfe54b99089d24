#include "CardFile.h"

#include "Errors.h"

#include <QDir>
#include <QTemporaryFile>

namespace {

constexpr int kMaxStemLength = 64; // characters, so the name stays far below 255 bytes

bool AllowedInFileName(char32_t c) {
    if (c < 0x20 || c == 0x7f)
        return false;
    switch (c) {
    case '/':
    case '\\':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
        return false;
    default:
        return true;
    }
}

} // namespace

QString CardFileStem(const QString& reference) {
    QList<uint> codes = reference.toUcs4();
    if (codes.size() > kMaxStemLength)
        codes.resize(kMaxStemLength);
    for (uint& c : codes)
        if (!AllowedInFileName(c))
            c = '_';
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(codes.constData()), codes.size());
}

QString CreateCardFile(const QString& folder, const QString& reference) {
    // QTemporaryFile replaces the XXXXXX by a unique suffix and creates the file exclusively.
    QTemporaryFile file(
        QDir(folder).filePath(QStringLiteral("ficha-%1-XXXXXX.bmp").arg(CardFileStem(reference))));
    file.setAutoRemove(false);
    if (!file.open())
        throw platform::StationError(
            QStringLiteral("No se puede crear el archivo de la ficha en \"%1\".").arg(folder));
    return file.fileName();
}
