// TrazelIB: the ten-print enrolment station.
#include "Errors.h"
#include "UConfigTrazel.h"
#include "USplash.h"
#include "UTrazel.h"
#include "UVerDedo.h"

#include <QDir>

int main(int argc, char** argv) {
    platform::StationApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("TrazelIB"));
    // Slot files are named relative to the working directory, which is the program folder.
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    FSplash = new TFSplash;
    FSplash->show();
    FSplash->repaint();
    QCoreApplication::processEvents();

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    FTrazel = new TFTrazel(args);
    FConfigTrazel = new TFConfigTrazel(FTrazel);
    FVerDedo = new TFVerDedo(FTrazel);

    FTrazel->show();
    FTrazel->TimerStart->start();
    const int rc = app.exec();
    delete FTrazel;
    delete FSplash;
    return rc;
}
