// The settings reader and writer on arbitrary file contents: reads must give a value or the
// default, and a write must leave a file that reads back the written value.
#include "Ini.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("TrazelIB.INI"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    const platform::IniFile ini(path);
    for (const char* key : {"ScannerType", "flip_hor", "flip_ver", "AutoAvance"}) {
        ini.ReadInteger(QStringLiteral("Config"), QString::fromLatin1(key), 0);
        ini.ReadBool(QStringLiteral("config"), QString::fromLatin1(key), true);
    }
    ini.WriteInteger(QStringLiteral("Config"), QStringLiteral("ScannerType"), 2);
    if (ini.ReadInteger(QStringLiteral("CONFIG"), QStringLiteral("scannertype"), -7) != 2)
        std::abort(); // a written key must read back
    return 0;
}
