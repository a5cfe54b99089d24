// nfiqtool [-v] FILE.bmp...: prints the NFIQ 1.0 score of each 8-bit grey BMP, one line a
// file. With -v the line also holds the 11 features, the minutiae count and the confidence.
// Exit status 0, 1 when a file cannot be read or scored (reason on stderr), 2 on a wrong
// command line; -h or --help prints the usage on stdout and exits 0.
#include "greyio.h"
#include "nfiq_core.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

const char kUsage[] = "usage: nfiqtool [-v] FILE.bmp...\n"
                      "Prints the NFIQ 1.0 score (1 best ... 5 worst) of each 8-bit grey BMP:\n"
                      "name, tab, score; -v adds the 11 features, minutiae count, confidence\n"
                      "and status. Exit status 0, 1 when a file cannot be read or scored, 2 on\n"
                      "a wrong command line.\n";

// A print's working memory (a few MiB of maps and images, each touched once) costs one page
// fault per 4 KiB page, a good part of a short run. The allocator is told to take all of it
// from one heap grown by 8 MiB at once and never handed back, and that heap is offered as
// transparent huge pages: one fault per 2 MiB where the system grants them, ordinary pages
// where it does not. Sanitizer builds keep their own allocator.
void prefer_huge_pages() {
#if defined(__linux__) && defined(MADV_HUGEPAGE) && !defined(__SANITIZE_ADDRESS__) &&              \
    !defined(__SANITIZE_THREAD__)
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_TOP_PAD, 2 << 20);
    void* first = std::malloc(8 << 20); // grows the heap past 8 MiB at once
    const auto begin = (reinterpret_cast<std::uintptr_t>(first) + kHuge - 1) & ~(kHuge - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(sbrk(0)) & ~(kHuge - 1);
    if (first && end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    std::free(first);
#endif
}

bool is_help(const char* a) {
    return std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0;
}

// Scores one file and prints its line. Returns false when it cannot be read or scored.
bool score(const char* path, bool verbose) {
    greyio_image img;
    const int rc = greyio_bmp_load(path, &img);
    if (rc != GREYIO_OK) {
        std::fprintf(stderr, "nfiqtool: %s: %s\n", path, greyio_strerror(rc));
        return false;
    }
    const nfiq::Result r =
        nfiq::assess(img.pixels, static_cast<int>(img.width), static_cast<int>(img.height));
    std::free(img.pixels);
    if (r.status == nfiq::kInvalidArgument) {
        std::fprintf(stderr, "nfiqtool: %s: larger than %d pixels a side\n", path, nfiq::kMaxSide);
        return false;
    }
    std::printf("%s\t%d", path, r.score);
    if (verbose) {
        const auto& f = r.features;
        std::printf("\t%.0f %.0f %.0f %.0f %.0f %.0f %.0f\t%.6f %.6f %.6f %.6f\tminutiae %zu"
                    "\tconfidence %.2f\tstatus %d",
                    f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10],
                    r.minutiae.size(), r.confidence, r.status);
    }
    std::printf("\n");
    return true;
}

} // namespace

int main(int argc, char** argv) {
    bool verbose = false;
    int files = 0;
    for (int a = 1; a < argc; ++a) {
        if (is_help(argv[a])) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[a], "-v") == 0)
            verbose = true;
        else if (argv[a][0] == '-' && argv[a][1] != '\0') {
            std::fprintf(stderr, "nfiqtool: unknown option %s\n%s", argv[a], kUsage);
            return 2;
        } else
            ++files;
    }
    if (files == 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    prefer_huge_pages();
    int failures = 0;
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "-v") != 0)
            failures += !score(argv[a], verbose);
    }
    return failures ? 1 : 0;
}
