#include "nfiq.h"

#include "IBScanUltimateApi.h"
#include "sharedobj.h"

#include <dlfcn.h>
#include <mutex>
#include <string>
#include <unistd.h>

namespace ibsim {

namespace {

using QualityFn = int (*)(const unsigned char*, int, int, int*, int);

constexpr const char* kLibraryName = "libGBNFIQ.so";

// One lock for loading and calling: the library is not promised to be reentrant.
std::mutex gMutex;
void* gHandle = nullptr;
QualityFn gQuality = nullptr;
std::string gOverride;

std::string folderOf(const std::string& file) {
    const auto slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

std::string programFolder() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    buf[n] = 0;
    return folderOf(buf);
}

std::string ownFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&nfiqScore), &info) == 0 || !info.dli_fname)
        return {};
    return folderOf(info.dli_fname);
}

// Tried again on every call until it loads: the station may fetch the library while it
// runs. Only full paths are tried (the program's folder, then this library's own), never the
// loader's search, and only a whole shared object: one cut short would kill the process with
// SIGBUS once mapped.
void loadLocked() {
    if (gHandle)
        return;
    std::string candidates[2];
    int n = 0;
    if (!gOverride.empty()) {
        candidates[n++] = gOverride;
    } else {
        const std::string prog = programFolder();
        const std::string own = ownFolder();
        if (!prog.empty())
            candidates[n++] = prog + kLibraryName;
        if (!own.empty() && own != prog)
            candidates[n++] = own + kLibraryName;
    }
    for (int i = 0; i < n && !gHandle; ++i)
        if (so_check_file(candidates[i].c_str()) == SO_OK)
            gHandle = dlopen(candidates[i].c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!gHandle)
        return;
    gQuality = reinterpret_cast<QualityFn>(dlsym(gHandle, "GBNFIQ_GetImageQuality"));
    if (!gQuality) {
        dlclose(gHandle);
        gHandle = nullptr;
    }
}

} // namespace

int nfiqScore(const uint8_t* pixels, int width, int height, int* score) {
    std::lock_guard lock(gMutex);
    loadLocked();
    if (!gQuality)
        return IBSU_ERR_NFIQ_UNAVAILABLE;
    int s = 0;
    const int status = gQuality(pixels, width, height, &s, 0);
    if (status != 0 || s < 1 || s > 5)
        return IBSU_ERR_NFIQ_FAILED;
    *score = s;
    return IBSU_STATUS_OK;
}

void nfiqSetLibraryPath(const char* path) {
    std::lock_guard lock(gMutex);
    if (gHandle)
        dlclose(gHandle);
    gHandle = nullptr;
    gQuality = nullptr;
    gOverride = path ? path : "";
}

} // namespace ibsim
