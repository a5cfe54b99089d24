#pragma once
// Fetching a file over http, synchronously: the caller waits in a local event loop.
#include <QByteArray>
#include <QString>

#include <functional>

namespace platform {

constexpr int kDownloadHeadSize = 4096;

struct DownloadOptions {
    // Lowercase hex SHA-256 the body must have; empty: no check.
    QByteArray expectedSha256;
    // Further check of a complete body before it is put in place, given its first bytes (up
    // to kDownloadHeadSize); false refuses it.
    std::function<bool(const QByteArray& head)> accept;
};

// Copies the body of an http address into targetFile. Only a complete answer with status 200
// counts: the body is written to a temporary file beside the target, checked, and renamed
// over the target only when everything succeeded. On failure nothing is left behind and any
// earlier target file is untouched. The request carries the program's file name as its agent
// and goes through the system's proxy settings.
bool DownloadFile(const QString& address, const QString& targetFile,
                  const DownloadOptions& options = {});

} // namespace platform
