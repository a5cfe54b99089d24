#include "NFIQUtil.h"

#include "BitmapUtil.h"
#include "Download.h"
#include "GBNFIQ.h"
#include "Library.h"
#include "MessageBox.h"
#include "Paths.h"

#include <QCoreApplication>
#include <QFile>
#include <QScopedValueRollback>

#include <cstring>
#include <memory>
#include <new>

namespace {

const QString& NfiqBaseName() {
    static const QString name = QStringLiteral("GBNFIQ");
    return name;
}

} // namespace

int32_t ScoreFingerImage(TDibViewer& viewer, int32_t& score) {
    const DibBlock* image = viewer.Image();
    if (!image || image->Width() <= 0)
        return kNfiqNoImage;
    if (!NfiqGetImageQuality() && !EnsureNfiqLibrary())
        return kNfiqNoLibrary;
    const GbnfiqGetImageQualityFn quality = NfiqGetImageQuality();
    if (!quality)
        return kNfiqNoLibrary;

    TrimToMultipleOf4(viewer);
    image = viewer.Image();
    const int32_t w = image->Width();
    const int32_t h = image->Height();
    if (w <= 0 || h <= 0)
        return kNfiqNoImage;

    // Top row of the picture first, rows without padding: stored row b (counted from the
    // bottom) becomes buffer row h - 1 - b.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow)
                                          uint8_t[static_cast<size_t>(w) * static_cast<size_t>(h)]);
    if (!buffer)
        return kNfiqNoMemory;
    for (int32_t b = 0; b < h; ++b)
        std::memcpy(buffer.get() + static_cast<size_t>(h - 1 - b) * w, image->StoredRow(b),
                    static_cast<size_t>(w));
    return quality(buffer.get(), w, h, &score, 0);
}

QString QualityLabel(int32_t score) {
    switch (score) {
    case 0:
        return QStringLiteral("Error");
    case 1:
        return QStringLiteral("Excelente");
    case 2:
        return QStringLiteral("Muy buena");
    case 3:
        return QStringLiteral("Buena");
    case 4:
        return QStringLiteral("Regular");
    case 5:
        return QStringLiteral("Mala");
    default:
        return QString();
    }
}

QString QualityStatusText(int32_t status) {
    switch (status) {
    case kNfiqNoMemory:
        return QStringLiteral("Falta memoria para procesar la imagen");
    case kNfiqNoImage:
        return QStringLiteral("Falta cargar la imagen");
    case kNfiqNoLibrary:
        return QStringLiteral("Falta GBNFIQ.DLL");
    case 1:
        return QStringLiteral("Imagen vacía");
    case 2:
        return QStringLiteral("Faltan minucias");
    default:
        return QString();
    }
}

QString QualityText(int32_t status, int32_t score) {
    QString text = QString::number(score) + QStringLiteral(" (") + QualityLabel(score);
    const QString reason = QualityStatusText(status);
    if (!reason.isEmpty())
        text += QLatin1Char(' ') + reason;
    return text + QLatin1Char(')');
}

QString NfiqDownloadAddress() {
    QString host = QStringLiteral(STATION_NFIQ_HOST);
    if (qEnvironmentVariableIsSet("STATION_NFIQ_HOST"))
        host = qEnvironmentVariable("STATION_NFIQ_HOST");
    return QStringLiteral("http://%1/GBNFIQ.dll").arg(host);
}

QByteArray NfiqLibrarySha256() {
    return QByteArray(STATION_NFIQ_SHA256).trimmed().toLower();
}

bool DownloadFile(const QString& address, const QString& targetFile) {
    return platform::DownloadFile(address, targetFile);
}

bool EnsureNfiqLibrary() {
    if (NfiqGetImageQuality())
        return true;
    // The library is only ever loaded from the program folder, so that is where it is fetched
    // to. A library file there that did not load is not fetched again (one cut short was
    // removed when it was refused, and is fetched anew).
    const QString fileName = platform::ProgramFile(platform::LibraryFileName(NfiqBaseName()));
    if (QFile::exists(fileName))
        return false;
    // The wait below lets posted events through (a capture result may land and be scored):
    // that scoring goes without the library rather than starting a second fetch.
    static bool fetching = false;
    if (fetching)
        return false;
    const QScopedValueRollback<bool> busy(fetching, true);

    const QString address = NfiqDownloadAddress();
    platform::DownloadOptions options;
    options.expectedSha256 = NfiqLibrarySha256();
    // An error page answered with status 200, or a body that is no whole library of this
    // machine, is refused before it is put in place.
    options.accept = [](const QByteArray& body) { return platform::IsWholeSharedObject(body); };
    switch (platform::Download(address, fileName, options)) {
    case platform::DownloadResult::Complete:
        break;
    case platform::DownloadResult::Abandoned:
        return false; // the program is quitting: nobody is left to read a message
    case platform::DownloadResult::Failed:
        platform::ShowMessage(nullptr, QStringLiteral("Error bajando desde \"%1\"").arg(address),
                              QCoreApplication::applicationName());
        return false;
    }
    // A fetched file that does not load would only block later fetches: remove it.
    bool loaded = false;
    try {
        loaded = NfiqLibraryLoaded();
    } catch (...) {
        QFile::remove(fileName);
        throw;
    }
    if (!loaded)
        QFile::remove(fileName);
    return loaded;
}
