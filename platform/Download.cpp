#include "Download.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QUrl>

namespace platform {

namespace {

// A stalled server must not hold the station for ever: give up after this long without data.
constexpr int kStallTimeoutMs = 60000;

class SystemProxyFactory : public QNetworkProxyFactory {
  public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override {
        return systemProxyForQuery(query);
    }
};

} // namespace

DownloadResult Download(const QString& address, const QString& targetFile,
                        const DownloadOptions& options) {
    const QUrl url(address);
    if (!url.isValid() || url.scheme().isEmpty())
        return DownloadResult::Failed;

    QSaveFile out(targetFile);
    if (!out.open(QIODevice::WriteOnly))
        return DownloadResult::Failed;

    QNetworkAccessManager manager;
    manager.setProxyFactory(new SystemProxyFactory); // the manager owns it
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    request.setTransferTimeout(kStallTimeoutMs);

    QByteArray body;
    bool tooLarge = false;
    const auto take = [&](const QByteArray& chunk) {
        if (tooLarge || body.size() + chunk.size() > kDownloadMaxSize) {
            tooLarge = true;
            return;
        }
        body += chunk;
    };
    QNetworkReply* reply = manager.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        take(reply->readAll());
        if (tooLarge)
            reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // A quit ends every event loop of the thread, this one too, with the answer half read.
    if (QCoreApplication* app = QCoreApplication::instance())
        QObject::connect(app, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    if (!reply->isFinished()) {
        reply->abort();
        delete reply;
        out.cancelWriting();
        return DownloadResult::Abandoned;
    }
    take(reply->readAll());
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    const bool whole = !announced.isValid() || announced.toLongLong() == body.size();
    const bool received =
        reply->error() == QNetworkReply::NoError && status == 200 && whole && !tooLarge;
    delete reply;

    bool ok = received;
    if (ok && !options.expectedSha256.isEmpty())
        ok = QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() ==
             options.expectedSha256.trimmed().toLower();
    if (ok && options.accept)
        ok = options.accept(body);
    ok = ok && out.write(body) == body.size() && out.flush();
    if (!ok) {
        out.cancelWriting();
        return DownloadResult::Failed;
    }
    return out.commit() ? DownloadResult::Complete : DownloadResult::Failed;
}

bool DownloadFile(const QString& address, const QString& targetFile,
                  const DownloadOptions& options) {
    return Download(address, targetFile, options) == DownloadResult::Complete;
}

} // namespace platform
