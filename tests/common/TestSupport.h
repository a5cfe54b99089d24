#pragma once
// Helpers shared by the tests.
#include "MessageBox.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

// The reference data beside the repository, or an empty string when it is absent.
inline QString SharedDir() {
    const QString dir = QStringLiteral(STATION_SHARED_DIR);
    return QDir(dir).exists() ? dir : QString();
}

#define REQUIRE_SHARED()                                                                           \
    do {                                                                                           \
        if (SharedDir().isEmpty())                                                                 \
            GTEST_SKIP() << "reference data ../shared is absent; skipping this comparison";        \
    } while (0)

// Runs the test in a fresh temporary working directory and restores the old one afterwards.
class ScopedWorkingDir {
  public:
    ScopedWorkingDir() : FOld(QDir::currentPath()) { QDir::setCurrent(FDir.path()); }
    ~ScopedWorkingDir() { QDir::setCurrent(FOld); }
    QString Path() const { return FDir.path(); }
    QString File(const QString& name) const { return FDir.filePath(name); }

  private:
    QTemporaryDir FDir;
    QString FOld;
};

// Answers every message box with a fixed button and records what was asked.
class MessageRecorder {
  public:
    explicit MessageRecorder(QMessageBox::StandardButton answer = QMessageBox::Ok) {
        FPrevious =
            platform::SetMessageResponder([this, answer](const platform::MessageRequest& r) {
                Requests.push_back(r);
                return answer;
            });
    }
    ~MessageRecorder() { platform::SetMessageResponder(FPrevious); }
    std::vector<platform::MessageRequest> Requests;

  private:
    platform::MessageResponder FPrevious;
};
