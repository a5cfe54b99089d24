#pragma once
// A one-request-at-a-time HTTP server on 127.0.0.1 for the fetch tests. It answers every
// request with the raw bytes it was given, then closes the connection, and records the request
// lines and headers it saw. It is served by whatever event loop runs, including the local loop
// of a synchronous download.
#include <QByteArray>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

class HttpStub {
  public:
    HttpStub() {
        FServer.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&FServer, &QTcpServer::newConnection, [this] { Accept(); });
    }
    quint16 Port() const { return FServer.serverPort(); }
    QString Host() const { return QStringLiteral("127.0.0.1:%1").arg(Port()); }

    // The next answers: a status line with its headers and body.
    void Answer(int status, const QByteArray& body, const QByteArray& contentType = "text/html") {
        FAnswer = "HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Type: " + contentType +
                  "\r\nContent-Length: " + QByteArray::number(body.size()) +
                  "\r\nConnection: close\r\n\r\n" + body;
    }
    // A 200 answer that announces the whole body but sends only its first `sent` bytes.
    void AnswerCutShort(const QByteArray& body, int sent) {
        Answer(200, body, "application/octet-stream");
        FAnswer.chop(body.size() - sent);
    }
    // Like AnswerCutShort, but the connection then stays open, as from a slow server.
    void AnswerAndHold(const QByteArray& body, int sent) {
        AnswerCutShort(body, sent);
        FHold = true;
    }

    QList<QByteArray> Requests; // each request's head

  private:
    void Accept() {
        while (QTcpSocket* s = FServer.nextPendingConnection()) {
            auto* head = new QByteArray;
            QObject::connect(s, &QTcpSocket::readyRead, s, [this, s, head] {
                *head += s->readAll();
                if (!head->contains("\r\n\r\n"))
                    return;
                Requests << *head;
                QObject::disconnect(s, &QTcpSocket::readyRead, nullptr, nullptr);
                s->write(FAnswer);
                s->flush();
                if (!FHold)
                    s->disconnectFromHost();
            });
            QObject::connect(s, &QTcpSocket::disconnected, s, [s, head] {
                delete head;
                s->deleteLater();
            });
        }
    }

    QTcpServer FServer;
    QByteArray FAnswer;
    bool FHold = false;
};
