// Yemario: captures the finger named by its argument into "huella.bmp" in the working
// directory, then ends (exit code 0; 1 when the scanner library cannot start).
#include "Errors.h"
#include "MessageBox.h"
#include "Paths.h"
#include "UYemario.h"

int main(int argc, char** argv) {
    platform::StationApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Yemario"));
    // The settings are shared with TrazelIB in its data folder; "huella.bmp" still goes to the
    // caller's working directory.
    const QString failure = platform::PrepareDataFolder();
    if (!failure.isEmpty()) {
        platform::ShowMessage(nullptr, failure, QStringLiteral("Error"), QMessageBox::Ok,
                              QMessageBox::Critical);
        return 1;
    }
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return RunYemario(args);
}
