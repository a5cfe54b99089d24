// nfiq_detector_trace PRINT.bmp PRINT.xyt: developer aid. For each of NIST's minutiae that
// the detector does not report, prints the removal step that dropped the nearby candidate
// (or "never detected"); then lists our minutiae that NIST does not have.
#include "detector.h"
#include "nfiq_bmp.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Xyt {
    int x, y, theta, q;
};

bool near(const lfs::Minutia& m, int x, int y, int tol) {
    return std::abs(m.x - x) <= tol && std::abs(m.y - y) <= tol;
}

int to_xyt(int d) {
    return ((8 - d) % 32 + 32) % 32 * 45 / 8;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: nfiq_detector_trace PRINT.bmp PRINT.xyt\n");
        return 2;
    }
    nfiq::GreyImage img;
    std::string err;
    if (!nfiq::read_bmp(argv[1], img, &err)) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }
    std::vector<Xyt> theirs;
    std::ifstream in(argv[2]);
    for (Xyt m; in >> m.x >> m.y >> m.theta >> m.q;) {
        theirs.push_back(m);
    }
    const int tol = argc > 3 ? std::atoi(argv[3]) : 4;
    const lfs::Params& p = lfs::kParamsV2;
    const auto padded = lfs::pad_image(img.pixels.data(), img.width, img.height, p);
    const auto maps = lfs::make_maps(padded, p);
    auto bin = lfs::binarize(padded, maps, p);
    auto found = lfs::detect_minutiae(bin, img.width, img.height, maps, p);
    std::vector<std::pair<std::string, std::vector<lfs::Minutia>>> stages;
    stages.emplace_back("detected", found);
    lfs::det::remove_false_minutiae_observed(
        found, bin, img.width, img.height, maps, p,
        [&](const char* step, const std::vector<lfs::Minutia>& l) {
            stages.emplace_back(step, l);
        });
    for (const Xyt& t : theirs) {
        std::string last = "never detected";
        for (const auto& [name, list] : stages) {
            bool present = false;
            for (const auto& m : list) {
                present = present || near(m, t.x, t.y, tol);
            }
            if (present) {
                last = name;
            } else {
                break;
            }
        }
        if (last != stages.back().first) {
            const int blk = maps.block_at(t.x, t.y);
            std::printf("missing (%d,%d,%d) last seen: %s  [block dir %d lf %d hc %d]\n", t.x, t.y,
                        t.theta, last.c_str(), maps.direction[blk], maps.low_flow[blk],
                        maps.high_curve[blk]);
        }
    }
    for (const auto& m : found) {
        bool known = false;
        for (const Xyt& t : theirs) {
            known = known || near(m, t.x, t.y, tol);
        }
        if (!known) {
            const int blk = maps.block_at(m.x, m.y);
            std::printf("extra (%d,%d,%d) %s id %d  [lf %d hc %d]\n", m.x, m.y, to_xyt(m.direction),
                        m.type ? "end" : "bif", m.feature_id, maps.low_flow[blk],
                        maps.high_curve[blk]);
        }
    }
    std::printf("nist %zu ours %zu\n", theirs.size(), found.size());
    // NFIQ_CONTOUR=x,y,ex,ey: both traces of 10 steps from that feature/edge pixel pair on
    // the binary image as it was before removal.
    if (const char* ct = std::getenv("NFIQ_CONTOUR")) {
        lfs::det::ContourPt s0{};
        std::sscanf(ct, "%d,%d,%d,%d", &s0.x, &s0.y, &s0.ex, &s0.ey);
        auto b0 = std::getenv("NFIQ_DUMP_FINAL") ? bin : lfs::binarize(padded, maps, p);
        lfs::det::Bin view{b0.data(), img.width, img.height};
        for (bool cw : {false, true}) {
            lfs::det::Contour c;
            const auto r = lfs::det::trace_contour(view, 10, s0.x, s0.y, s0, cw, c);
            std::printf("%s r%d:", cw ? "cw " : "ccw", static_cast<int>(r));
            for (const auto& q : c) {
                std::printf(" %d,%d/%d,%d", q.x, q.y, q.ex, q.ey);
            }
            std::printf("\n");
        }
    }
    if (const char* st = std::getenv("NFIQ_STAGE")) {
        for (const auto& [name, list] : stages) {
            if (name == st) {
                for (const auto& m : list) {
                    std::printf("final %d %d %d %d %d edge %d %d\n", m.x, m.y, m.direction, m.type,
                                m.feature_id, m.ex, m.ey);
                }
            }
        }
    } else if (std::getenv("NFIQ_LIST")) {
        for (const auto& m : found) {
            std::printf("final %d %d %d %d %d\n", m.x, m.y, m.direction, m.type, m.feature_id);
        }
    }
    // NFIQ_DUMP=x,y: the binary image before removal around (x, y) with the candidates after
    // detection (lower case: e ending, b bifurcation) and NIST's minutiae (N).
    if (const char* dump = std::getenv("NFIQ_DUMP")) {
        int cx = 0, cy = 0;
        std::sscanf(dump, "%d,%d", &cx, &cy);
        auto bin0 = lfs::binarize(padded, maps, p);
        auto cand = lfs::detect_minutiae(bin0, img.width, img.height, maps, p);
        auto bin1 = std::getenv("NFIQ_DUMP_FINAL") ? bin : lfs::binarize(padded, maps, p);
        for (int y = cy - 12; y <= cy + 12; ++y) {
            std::printf("%4d ", y);
            for (int x = cx - 20; x <= cx + 20; ++x) {
                if (x < 0 || y < 0 || x >= img.width || y >= img.height) {
                    std::printf(" ");
                    continue;
                }
                char c = bin1[static_cast<size_t>(y) * img.width + x] ? '#' : '.';
                for (const auto& m : cand) {
                    if (m.x == x && m.y == y) {
                        c = m.type ? 'e' : 'b';
                    }
                }
                for (const Xyt& t : theirs) {
                    if (t.x == x && t.y == y) {
                        c = c == '#' || c == '.' ? 'N' : 'M';
                    }
                }
                std::printf("%c", c);
            }
            std::printf("\n");
        }
        for (const auto& m : cand) {
            if (std::abs(m.x - cx) <= 20 && std::abs(m.y - cy) <= 12) {
                std::printf("cand (%d,%d) dir %d xyt %d %s id %d edge (%d,%d)\n", m.x, m.y,
                            m.direction, to_xyt(m.direction), m.type ? "end" : "bif", m.feature_id,
                            m.ex, m.ey);
            }
        }
        for (const auto& [name, list] : stages) {
            std::printf("%-26s", name.c_str());
            for (const auto& m : list) {
                if (std::abs(m.x - cx) <= 20 && std::abs(m.y - cy) <= 12) {
                    std::printf(" (%d,%d)", m.x, m.y);
                }
            }
            std::printf("\n");
        }
        for (const Xyt& t : theirs) {
            if (std::abs(t.x - cx) <= 20 && std::abs(t.y - cy) <= 12) {
                std::printf("nist (%d,%d) xyt %d q %d\n", t.x, t.y, t.theta, t.q);
            }
        }
    }
    return 0;
}
