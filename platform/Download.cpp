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

bool DownloadFile(const QString& address, const QString& targetFile,
                  const DownloadOptions& options) {
    const QUrl url(address);
    if (!url.isValid() || url.scheme().isEmpty())
        return false;

    QSaveFile out(targetFile);
    if (!out.open(QIODevice::WriteOnly))
        return false;

    QNetworkAccessManager manager;
    manager.setProxyFactory(new SystemProxyFactory); // the manager owns it
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    request.setTransferTimeout(kStallTimeoutMs);

    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray head;
    bool writeFailed = false;
    const auto take = [&](const QByteArray& chunk) {
        hash.addData(chunk);
        if (head.size() < kDownloadHeadSize)
            head += chunk.left(kDownloadHeadSize - head.size());
        if (out.write(chunk) != chunk.size())
            writeFailed = true;
    };
    QNetworkReply* reply = manager.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] { take(reply->readAll()); });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();

    take(reply->readAll());
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool received = reply->error() == QNetworkReply::NoError && status == 200;
    delete reply;

    bool ok = received && !writeFailed && out.flush();
    if (ok && !options.expectedSha256.isEmpty())
        ok = hash.result().toHex() == options.expectedSha256.trimmed().toLower();
    if (ok && options.accept)
        ok = options.accept(head);
    if (!ok) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

} // namespace platform
