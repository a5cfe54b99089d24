// Yemario: captures the finger named by its argument into "huella.bmp" in the working
// directory, then ends (exit code 0; 1 when the scanner library cannot start).
#include "Errors.h"
#include "UYemario.h"

int main(int argc, char** argv) {
    platform::StationApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Yemario"));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return RunYemario(args);
}
