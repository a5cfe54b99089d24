// nfiqtool [-v] FILE.bmp...: prints the NFIQ 1.0 score of each 8-bit BMP, one line a file.
// With -v the line also holds the 11 features, the minutiae count and the confidence.
#include "nfiq_bmp.h"
#include "nfiq_core.h"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    bool verbose = false;
    int files = 0, failures = 0;
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "-v") == 0) {
            verbose = true;
            continue;
        }
        if (argv[a][0] == '-' && argv[a][1] != '\0') {
            std::fprintf(stderr, "usage: nfiqtool [-v] FILE.bmp...\n");
            return 2;
        }
        ++files;
        nfiq::GreyImage img;
        std::string error;
        if (!nfiq::read_bmp(argv[a], img, &error)) {
            std::fprintf(stderr, "nfiqtool: %s: %s\n", argv[a], error.c_str());
            ++failures;
            continue;
        }
        const nfiq::Result r = nfiq::assess(img.pixels.data(), img.width, img.height);
        std::printf("%s\t%d", argv[a], r.score);
        if (verbose) {
            const auto& f = r.features;
            std::printf("\t%.0f %.0f %.0f %.0f %.0f %.0f %.0f\t%.6f %.6f %.6f %.6f\tminutiae %zu"
                        "\tconfidence %.2f\tstatus %d",
                        f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10],
                        r.minutiae.size(), r.confidence, r.status);
        }
        std::printf("\n");
    }
    if (files == 0) {
        std::fprintf(stderr, "usage: nfiqtool [-v] FILE.bmp...\n");
        return 2;
    }
    return failures ? 1 : 0;
}
