#include "GBNFIQ.h"

#include "Errors.h"
#include "Library.h"

#include <QFile>

namespace {

struct NfiqBinding {
    platform::Library library{QStringLiteral("GBNFIQ")};
    bool loaded = false;
    GbnfiqGetVersionFn getVersion = nullptr;
    GbnfiqGetImageQualityFn getImageQuality = nullptr;
};

// One per process; its destruction at exit releases the library.
NfiqBinding& Binding() {
    static NfiqBinding binding;
    return binding;
}

} // namespace

void LoadNfiqLibrary() {
    NfiqBinding& b = Binding();
    if (b.loaded)
        return;
    if (!b.library.Load()) {
        // A library file cut short (a fetch the program did not live to finish) would only
        // block every later fetch: it goes, and the next scoring fetches it anew.
        if (b.library.Refused())
            QFile::remove(b.library.Path());
        return;
    }
    const auto version = b.library.Resolve("GBNFIQ_GetVersion");
    if (!version) {
        b.library.Unload();
        throw platform::StationError(platform::AssertionText("GBNFIQ", 173));
    }
    const auto quality = b.library.Resolve("GBNFIQ_GetImageQuality");
    if (!quality) {
        b.library.Unload();
        throw platform::StationError(platform::AssertionText("GBNFIQ", 177));
    }
    b.getVersion = reinterpret_cast<GbnfiqGetVersionFn>(version);
    b.getImageQuality = reinterpret_cast<GbnfiqGetImageQualityFn>(quality);
    b.loaded = true;
}

bool NfiqLibraryLoaded() {
    LoadNfiqLibrary();
    return Binding().loaded;
}

GbnfiqGetImageQualityFn NfiqGetImageQuality() {
    return Binding().getImageQuality;
}

QString NfiqLibraryFile() {
    return Binding().library.FileName();
}
