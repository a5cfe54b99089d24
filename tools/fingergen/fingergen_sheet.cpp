// Writes generated prints as PGM files, for looking at them (e.g. in a contact sheet).
// Usage: fingergen_sheet OUTDIR [SEED [COUNT [WIDTH HEIGHT [DEFECT STRENGTH]]]]
// DEFECT is one of contrast, noise, dryness, smudge, partial.
#include "fingergen.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTDIR [SEED [COUNT [W H [DEFECT STRENGTH]]]]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 1;
    const int count = argc > 3 ? std::atoi(argv[3]) : 10;
    const int w = argc > 5 ? std::atoi(argv[4]) : 400;
    const int h = argc > 5 ? std::atoi(argv[5]) : 500;
    fg_defects d{};
    if (argc > 7) {
        const float s = static_cast<float>(std::atof(argv[7]));
        const std::string name = argv[6];
        if (name == "contrast")
            d.low_contrast = s;
        else if (name == "noise")
            d.noise = s;
        else if (name == "dryness")
            d.dryness = s;
        else if (name == "smudge")
            d.smudge = s;
        else if (name == "partial")
            d.partial = s;
        else {
            std::fprintf(stderr, "unknown defect %s\n", name.c_str());
            return 2;
        }
    }
    std::vector<unsigned char> px(static_cast<size_t>(w) * h);
    for (int n = 0; n < count; ++n) {
        const unsigned s = seed + static_cast<unsigned>(n / 10);
        const int finger = n % 10 + 1;
        const int rc = fg_render(s, finger, w, h, &d, px.data());
        if (rc != FG_OK) {
            std::fprintf(stderr, "fg_render: %s\n", fg_strerror(rc));
            return 1;
        }
        char name[64];
        std::snprintf(name, sizeof name, "/fg_%u_%02d_c%d.pgm", s, finger,
                      fg_pattern_class(s, finger));
        FILE* f = std::fopen((dir + name).c_str(), "wb");
        if (!f) {
            std::perror("fopen");
            return 1;
        }
        std::fprintf(f, "P5\n%d %d\n255\n", w, h);
        std::fwrite(px.data(), 1, px.size(), f);
        std::fclose(f);
    }
    return 0;
}
