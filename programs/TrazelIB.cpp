// TrazelIB: the ten-print enrolment station.
#include "Errors.h"
#include "MessageBox.h"
#include "Paths.h"
#include "TrazelStartup.h"

#include <QDir>

int main(int argc, char** argv) {
    platform::StationApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("TrazelIB"));
    // Slot files are named relative to the working directory, the data folder (the program
    // folder itself unless the station is installed).
    const QString failure = platform::PrepareDataFolder();
    if (!failure.isEmpty() || !QDir::setCurrent(platform::DataFolder())) {
        platform::ShowMessage(
            nullptr,
            failure.isEmpty()
                ? QStringLiteral("Unable to use folder %1").arg(platform::DataFolder())
                : failure,
            QStringLiteral("Error"), QMessageBox::Ok, QMessageBox::Critical);
        return 1;
    }
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return RunTrazelIB(args);
}
