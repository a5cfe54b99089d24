// nfiqcompare REFERENCE.tsv PRINT_DIR [XYT_DIR]: developer aid that prints, per print, our
// quality-map features (f1, f8..f11), minutiae features (f2..f7) and score beside NIST's,
// and with XYT_DIR how many of NIST's minutiae we find within 4 pixels.
#include "nfiq_bmp.h"
#include "nfiq_core.h"
#include "internal.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // --list: also list, per print, NIST's minutiae we lack and ours NIST lacks (2 pixels).
    bool list = false;
    std::vector<char*> args;
    for (int a = 0; a < argc; ++a) {
        if (std::string(argv[a]) == "--list")
            list = true;
        else
            args.push_back(argv[a]);
    }
    argc = static_cast<int>(args.size());
    argv = args.data();
    if (argc < 3) {
        std::fprintf(stderr, "usage: nfiqcompare [--list] REFERENCE.tsv PRINT_DIR [XYT_DIR]\n");
        return 2;
    }
    std::ifstream tsv(argv[1]);
    std::string line;
    std::getline(tsv, line);
    int scored = 0, agree = 0, qmap_exact = 0;
    while (std::getline(tsv, line)) {
        std::istringstream in(line);
        std::vector<std::string> col;
        for (std::string c; std::getline(in, c, '\t');)
            col.push_back(c);
        if (col.size() < 16)
            continue;
        nfiq::GreyImage img;
        std::string err;
        if (!nfiq::read_bmp(std::string(argv[2]) + "/" + col[0], img, &err)) {
            std::printf("%s: %s\n", col[0].c_str(), err.c_str());
            continue;
        }
        const nfiq::Result r = nfiq::assess(img.pixels.data(), img.width, img.height);
        int u[5] = {};
        for (int q : r.quality_map)
            ++u[q];
        const int fg = static_cast<int>(r.quality_map.size()) - u[0];
        std::printf("%-38s nfiq %s/%d ", col[0].c_str(), col[3].c_str(), r.score);
        if (col[3] != "refused") {
            ++scored;
            agree += std::to_string(r.score) == col[3];
        }
        if (col[5] != "-") {
            const bool same = std::to_string(fg) == col[5];
            std::printf("f1 %s/%d ", col[5].c_str(), fg);
            for (int q = 1; q <= 4; ++q)
                std::printf("f%d %s/%.6f ", 7 + q, col[11 + q].c_str(),
                            fg ? static_cast<double>(u[q]) / fg : 0.0);
            double maxdiff = 0;
            for (int q = 1; q <= 4; ++q)
                maxdiff = std::max(
                    maxdiff, std::fabs(std::stod(col[11 + q]) - (fg ? double(u[q]) / fg : 0.0)));
            qmap_exact += same && maxdiff < 1e-5;
            std::printf("%s ", same && maxdiff < 1e-5 ? "QOK" : "QDIFF");
        }
        int rel[5] = {};
        for (const auto& m : r.minutiae)
            for (int t = 0; t < 5; ++t)
                rel[t] += m.reliability > 0.5 + 0.1 * t;
        std::printf("min %s/%zu rel %s,%s,%s,%s,%s/%d,%d,%d,%d,%d", col[20].c_str(),
                    r.minutiae.size(), col[7].c_str(), col[8].c_str(), col[9].c_str(),
                    col[10].c_str(), col[11].c_str(), rel[0], rel[1], rel[2], rel[3], rel[4]);
        if (argc > 3) {
            std::string base = col[0].substr(0, col[0].size() - 4);
            std::ifstream xyt(std::string(argv[3]) + "/" + base + ".xyt");
            int total = 0, matched = 0, rel_same = 0;
            std::vector<lfs::Minutia> theirs;
            std::vector<int> their_q;
            for (int x, y, t, q; xyt >> x >> y >> t >> q;) {
                lfs::Minutia m;
                m.x = x;
                m.y = y;
                theirs.push_back(m);
                their_q.push_back(q);
                ++total;
                for (const auto& m : r.minutiae)
                    if (std::abs(m.x - x) <= 4 && std::abs(m.y - y) <= 4) {
                        ++matched;
                        break;
                    }
            }
            // Our reliability at NIST's minutia positions against NIST's quality field.
            const lfs::PaddedImage pim =
                lfs::pad_image(img.pixels.data(), img.width, img.height, lfs::kParamsV2);
            const lfs::Maps maps = lfs::make_maps(pim, lfs::kParamsV2);
            lfs::assign_reliability(theirs, lfs::quality_map(maps), maps, img.pixels.data(),
                                    img.width, img.height, 500);
            for (size_t k = 0; k < theirs.size(); ++k)
                rel_same += lfs::sround(theirs[k].reliability * 100.0) == their_q[k];
            // The score our chain gives with NIST's minutiae in place of ours.
            int oracle = 5;
            if (theirs.size() > 5 && fg > 0) {
                nfiq::Features f{};
                f[0] = static_cast<float>(fg);
                f[1] = static_cast<float>(theirs.size());
                for (int t = 0; t < 5; ++t)
                    for (const auto& m : theirs)
                        f[2 + t] += m.reliability > 0.5 + 0.1 * t;
                for (int q = 1; q <= 4; ++q)
                    f[6 + q] = static_cast<float>(u[q]) / static_cast<float>(fg);
                oracle = nfiq::classify(f).score;
            }
            std::printf(" xyt %d/%d rel-at-xyt %d/%d score-with-xyt %d", matched, total, rel_same,
                        total, oracle);
            if (list) {
                auto near = [](int ax, int ay, int bx, int by) {
                    return std::abs(ax - bx) <= 2 && std::abs(ay - by) <= 2;
                };
                for (size_t k = 0; k < theirs.size(); ++k) {
                    bool found = false;
                    for (const auto& m : r.minutiae)
                        found = found || near(m.x, m.y, theirs[k].x, theirs[k].y);
                    if (!found)
                        std::printf("\n    NIST only: %d %d q %d", theirs[k].x, theirs[k].y,
                                    their_q[k]);
                }
                for (const auto& m : r.minutiae) {
                    bool found = false;
                    for (const auto& t : theirs)
                        found = found || near(m.x, m.y, t.x, t.y);
                    if (!found)
                        std::printf("\n    ours only: %d %d dir %d type %d q %d", m.x, m.y,
                                    m.direction, m.type, lfs::sround(m.reliability * 100.0));
                }
            }
        }
        std::printf("\n");
    }
    std::printf("score agreement %d/%d, quality map exact %d\n", agree, scored, qmap_exact);
    return 0;
}
