// Directional binarisation of the padded 6-bit image (NIST's LFS version 2).
//
// Each pixel of a block with a valid ridge direction is compared with its neighbourhood
// along that direction: a 7-wide × 9-high grid, rotated so that its rows run along the
// ridge, is centred on the pixel. The pixel is ridge (1) when the centre row is darker than
// the average row, valley (0) otherwise. Pixels of blocks without a direction are valley.
// One-pixel holes are then filled along rows and columns.
#include "detector.h"

#include <cmath>
#include <numbers>

namespace lfs {

namespace {

// Pixel offsets (relative to the centre, in the padded image) of the rotated grid for each
// block direction; rows of the grid follow the ridge direction.
std::vector<std::vector<long>> rotated_grids(const Params& p, int padded_w) {
    const int gw = p.dirbin_grid_w, gh = p.dirbin_grid_h;
    const double cx = (gw - 1) / 2.0, cy = (gh - 1) / 2.0;
    std::vector<std::vector<long>> grids(static_cast<size_t>(p.num_directions));
    for (int d = 0; d < p.num_directions; ++d) {
        const double theta = p.start_dir_angle + d * std::numbers::pi / p.num_directions;
        const double cs = std::cos(theta), sn = std::sin(theta);
        auto& g = grids[static_cast<size_t>(d)];
        g.reserve(static_cast<size_t>(gw) * gh);
        for (int j = 0; j < gh; ++j) {
            const double fy = j - cy;
            for (int i = 0; i < gw; ++i) {
                const double fx = i - cx;
                const int rx = sround(trunc_prec(fx * cs - fy * sn));
                const int ry = sround(trunc_prec(fx * sn + fy * cs));
                g.push_back(static_cast<long>(ry) * padded_w + rx);
            }
        }
    }
    return grids;
}

} // namespace

void det::fill_holes(std::vector<uint8_t>& bin, int w, int h) {
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bin.data() + static_cast<size_t>(y) * w;
        int x = 1;
        while (x < w - 1) {
            if (row[x - 1] == row[x + 1] && row[x] != row[x - 1]) {
                row[x] = row[x - 1];
                x += 2;
            } else {
                ++x;
            }
        }
    }
    for (int x = 0; x < w; ++x) {
        uint8_t* col = bin.data() + x;
        const size_t s = static_cast<size_t>(w);
        int y = 1;
        while (y < h - 1) {
            if (col[(y - 1) * s] == col[(y + 1) * s] && col[y * s] != col[(y - 1) * s]) {
                col[y * s] = col[(y - 1) * s];
                y += 2;
            } else {
                ++y;
            }
        }
    }
}

std::vector<uint8_t> binarize(const PaddedImage& img, const Maps& maps, const Params& p) {
    const int iw = img.iw(), ih = img.ih();
    std::vector<uint8_t> bin(static_cast<size_t>(iw > 0 ? iw : 0) * (ih > 0 ? ih : 0), 0);
    if (iw <= 0 || ih <= 0 || maps.mw <= 0 || maps.mh <= 0 ||
        maps.direction.size() != static_cast<size_t>(maps.mw) * maps.mh) {
        return bin;
    }
    const auto grids = rotated_grids(p, img.w);
    const int gw = p.dirbin_grid_w, gh = p.dirbin_grid_h;
    const int centre_row = (gh - 1) / 2;
    for (int y = 0; y < ih; ++y) {
        for (int x = 0; x < iw; ++x) {
            const int d =
                maps.direction[static_cast<size_t>(det::block_floor(maps, x, y, p.blocksize))];
            if (d < 0 || d >= p.num_directions) {
                continue;
            }
            const uint8_t* c =
                img.px.data() + static_cast<size_t>(y + img.pad) * img.w + x + img.pad;
            const auto& g = grids[static_cast<size_t>(d)];
            long total = 0, centre = 0;
            for (int j = 0; j < gh; ++j) {
                long row = 0;
                for (int i = 0; i < gw; ++i) {
                    row += c[g[static_cast<size_t>(j * gw + i)]];
                }
                total += row;
                if (j == centre_row) {
                    centre = row;
                }
            }
            if (centre * gh < total) {
                bin[static_cast<size_t>(y) * iw + x] = 1;
            }
        }
    }
    for (int i = 0; i < p.num_fill_holes; ++i) {
        det::fill_holes(bin, iw, ih);
    }
    return bin;
}

} // namespace lfs
