#pragma once
// Fetching a file over http, synchronously: the caller waits in a local event loop that keeps
// the windows painted but leaves the operator's input queued until the fetch ends.
#include <QByteArray>
#include <QString>

#include <functional>

namespace platform {

// A body larger than this is refused: nothing fetched here is that large.
constexpr qint64 kDownloadMaxSize = 64ll << 20;

struct DownloadOptions {
    // Lowercase hex SHA-256 the body must have; empty: no check.
    QByteArray expectedSha256;
    // Further check of a complete body before it is put in place; false refuses it.
    std::function<bool(const QByteArray& body)> accept;
};

enum class DownloadResult {
    Complete,  // the whole body arrived, passed the checks and is in place
    Failed,    // refused, unreachable, an error status, a body cut short, a write failure
    Abandoned, // the program is quitting: the fetch was dropped without a word
};

// Copies the body of an http address into targetFile. Only a finished answer with status 200
// whose body is as long as announced counts: the body is written to a temporary file beside
// the target, checked, and renamed over the target only when everything succeeded. On failure
// nothing is left behind and any earlier target file is untouched. When the program starts to
// quit while the fetch runs, the fetch is dropped the same way. The request carries the
// program's file name as its agent and goes through the system's proxy settings.
DownloadResult Download(const QString& address, const QString& targetFile,
                        const DownloadOptions& options = {});

// Download, true only for a complete fetch.
bool DownloadFile(const QString& address, const QString& targetFile,
                  const DownloadOptions& options = {});

} // namespace platform
