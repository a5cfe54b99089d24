#include "TrazelStartup.h"

#include "UConfigTrazel.h"
#include "USplash.h"
#include "UTrazel.h"
#include "UVerDedo.h"

#include <QCoreApplication>

void CreateTrazelWindows(const QStringList& args) {
    FSplash = new TFSplash;
    FSplash->show();
    FSplash->repaint();
    QCoreApplication::processEvents();

    FTrazel = new TFTrazel(args);
    FConfigTrazel = new TFConfigTrazel(FTrazel);
    FVerDedo = new TFVerDedo(FTrazel);

    FTrazel->show();
    FTrazel->TimerStart->start();
}

void DestroyTrazelWindows() {
    delete FTrazel; // owns the dialog and the finger viewer
    FTrazel = nullptr;
    FConfigTrazel = nullptr;
    FVerDedo = nullptr;
    delete FSplash;
    FSplash = nullptr;
}
