// Saved set to ten-print transaction (an2k_set.h).
#include "an2k_set.h"

#include "greyio.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

namespace an2k {

namespace {

struct Image {
    greyio_image img{};
    ~Image() { std::free(img.pixels); }
};

std::string Stamp(std::time_t t, const char* format, bool utc) {
    std::tm parts{};
    if (utc)
        gmtime_r(&t, &parts);
    else
        localtime_r(&t, &parts);
    char buf[32];
    std::strftime(buf, sizeof buf, format, &parts);
    return buf;
}

bool SamePicture(const greyio_image& a, const greyio_image& b) {
    return a.width == b.width && a.height == b.height &&
           std::memcmp(a.pixels, b.pixels, size_t(a.width) * a.height) == 0;
}

} // namespace

std::string transaction_file_name(const std::string& ref) {
    std::string name = ref.empty() ? std::string("ficha") : ref;
    for (char& c : name)
        if (c == '/' || uint8_t(c) < 0x20 || c == 0x7F)
            c = '_';
    if (name[0] == '.')
        name[0] = '_';
    return name + ".an2";
}

Result load_set(const std::string& dir, const SetOptions& options, Tenprint& out) {
    out = Tenprint();
    const std::time_t now = options.now ? options.now : std::time(nullptr);
    Image amputation;
    if (!options.amputation_picture.empty()) {
        const int rc = greyio_bmp_load(options.amputation_picture.c_str(), &amputation.img);
        if (rc != GREYIO_OK)
            return Result{kEInvalid, options.amputation_picture + ": " + greyio_strerror(rc)};
    }
    std::time_t newest = 0;
    for (int n = 1; n <= 10; ++n) {
        Finger& finger = out.fingers[size_t(n - 1)];
        const std::string bmp = dir + "/dedo" + std::to_string(n) + ".bmp";
        const std::string wsq = dir + "/dedo" + std::to_string(n) + ".wsq";
        Image print;
        int rc = greyio_bmp_load(bmp.c_str(), &print.img);
        if (rc != GREYIO_OK)
            return Result{kEInvalid,
                          "slot " + std::to_string(n) + ": " + bmp + ": " + greyio_strerror(rc)};
        struct stat st {};
        if (stat(bmp.c_str(), &st) == 0 && st.st_mtime > newest)
            newest = st.st_mtime;
        if (amputation.img.pixels && SamePicture(print.img, amputation.img)) {
            finger.amputated = true;
            continue;
        }
        uint8_t* data = nullptr;
        size_t len = 0;
        rc = greyio_read_file(wsq.c_str(), &data, &len);
        if (rc != 0)
            return Result{kEInvalid,
                          "slot " + std::to_string(n) + ": " + wsq + ": " + greyio_strerror(rc)};
        finger.wsq.assign(data, data + len);
        std::free(data);
        finger.nfiq = options.score ? options.score(n, print.img.pixels, int(print.img.width),
                                                    int(print.img.height))
                                    : 254;
    }
    std::string ref = options.ref.empty() ? std::string("ficha") : options.ref;
    for (char& c : ref)
        if (uint8_t(c) <= 0x20 || uint8_t(c) >= 0x7F)
            c = '_';
    out.dat = Stamp(now, "%Y%m%d", false);
    out.gmt = Stamp(now, "%Y%m%d%H%M%SZ", true);
    out.fcd = Stamp(newest ? newest : now, "%Y%m%d", false);
    out.tcn = ref + "-" + Stamp(now, "%Y%m%d%H%M%S", false);
    out.ori = options.ori;
    out.dai = options.dai;
    out.imp = options.imp;
    return {};
}

Result encode_set(const std::string& dir, const SetOptions& options, std::vector<uint8_t>& out) {
    out.clear();
    Tenprint set;
    if (Result r = load_set(dir, options, set); !r)
        return r;
    Transaction t;
    if (Result r = build_tenprint(set, t); !r)
        return r;
    return write(t, out);
}

} // namespace an2k
