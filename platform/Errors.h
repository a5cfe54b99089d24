#pragma once
// Failures that end an operation. A StationError carries the text the operator reads; the
// program's general error report shows it in a message box and the program goes on.
// Abort refuses an operation silently: the report swallows it without a message.
#include <QApplication>
#include <QString>

#include <functional>
#include <stdexcept>

namespace platform {

class StationError : public std::runtime_error {
  public:
    explicit StationError(const QString& text)
        : std::runtime_error(text.toStdString()), FText(text) {}
    const QString& Text() const { return FText; }

  private:
    QString FText;
};

class Abort : public std::exception {
  public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

[[noreturn]] inline void SilentAbort() {
    throw Abort();
}

// Shows an error's text in a message box (captioned with the application name).
void ReportError(const QString& text);

// Runs an operation; an Abort ends it silently, any other exception is shown by ReportError.
// Returns false when the operation ended by an exception.
bool RunReported(const std::function<void()>& operation);

// Loads Qt's own Spanish texts (standard dialogs, print preview, context menus) from the
// system's translations folder, whatever the desktop's language. False when they are not
// installed; the station's own texts are Spanish either way.
bool InstallSpanishQtTranslations();

// The application object of both programs: an exception that escapes an event handler is
// reported by ReportError (Abort silently) and the event loop goes on.
class StationApplication : public QApplication {
  public:
    StationApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace platform
