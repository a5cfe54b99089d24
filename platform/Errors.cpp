#include "Errors.h"

#include "MessageBox.h"

#include <QFont>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

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

bool InstallSpanishQtTranslations() {
    auto* app = QCoreApplication::instance();
    if (!app)
        return false;
    static QPointer<QTranslator> installed;
    if (installed)
        return true;
    auto* translator = new QTranslator(app);
    if (!translator->load(QStringLiteral("qtbase_es"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return true;
}

StationApplication::StationApplication(int& argc, char** argv) : QApplication(argc, argv) {
    InstallSpanishQtTranslations();
    // The windows are laid out for the classic Windows faces; on Linux the metric-compatible
    // Liberation faces (fonts-liberation2) take their place.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
}

bool StationApplication::notify(QObject* receiver, QEvent* event) {
    bool result = false;
    RunReported([&] { result = QApplication::notify(receiver, event); });
    return result;
}

} // namespace platform
