#include "Errors.h"

#include "MessageBox.h"

namespace platform {

void ReportError(const QString& text) {
    ShowMessage(nullptr, text, QCoreApplication::applicationName(), QMessageBox::Ok,
                QMessageBox::Critical);
}

bool RunReported(const std::function<void()>& operation) {
    try {
        operation();
        return true;
    } catch (const Abort&) {
    } catch (const StationError& e) {
        ReportError(e.Text());
    } catch (const std::exception& e) {
        ReportError(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

StationApplication::StationApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool StationApplication::notify(QObject* receiver, QEvent* event) {
    bool result = false;
    RunReported([&] { result = QApplication::notify(receiver, event); });
    return result;
}

} // namespace platform
