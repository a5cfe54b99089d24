// TrazelIB: the ten-print enrolment station.
#include "Errors.h"
#include "TrazelStartup.h"

#include <QDir>

int main(int argc, char** argv) {
    platform::StationApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("TrazelIB"));
    // Slot files are named relative to the working directory, which is the program folder.
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    CreateTrazelWindows(args);
    const int rc = app.exec();
    DestroyTrazelWindows();
    return rc;
}
