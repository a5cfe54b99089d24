#include "WSQPACK.h"

#include "Errors.h"
#include "Library.h"

namespace {

struct WsqBinding {
    platform::Library library{QStringLiteral("WSQPACK")};
    bool loaded = false;
    WsqpackCompressFn compress = nullptr;
    WsqpackUncompressFn uncompress = nullptr;
    WsqpackFreeFn free = nullptr;
};

// One per process; its destruction at exit releases the library.
WsqBinding& Binding() {
    static WsqBinding binding;
    return binding;
}

} // namespace

void LoadWsqLibrary() {
    WsqBinding& b = Binding();
    if (b.loaded || !b.library.Load())
        return;
    // Each entry point with the line number its assertion names.
    struct Entry {
        const char* name;
        int line;
        QFunctionPointer address;
    } entries[] = {{"WSQPACK_Compress", 132, nullptr},
                   {"WSQPACK_Uncompress", 136, nullptr},
                   {"WSQPACK_Free", 140, nullptr}};
    for (Entry& e : entries) {
        e.address = b.library.Resolve(e.name);
        if (!e.address) {
            b.library.Unload();
            throw platform::StationError(platform::AssertionText("WSQPACK", e.line));
        }
    }
    b.compress = reinterpret_cast<WsqpackCompressFn>(entries[0].address);
    b.uncompress = reinterpret_cast<WsqpackUncompressFn>(entries[1].address);
    b.free = reinterpret_cast<WsqpackFreeFn>(entries[2].address);
    b.loaded = true;
}

bool WsqLibraryLoaded() {
    return Binding().loaded;
}
WsqpackCompressFn WsqpackCompress() {
    return Binding().compress;
}
WsqpackUncompressFn WsqpackUncompress() {
    return Binding().uncompress;
}
WsqpackFreeFn WsqpackFree() {
    return Binding().free;
}
