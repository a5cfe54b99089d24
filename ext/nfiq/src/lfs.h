// Shared types of the minutiae detector (NIST's LFS version 2 as used by NFIQ 1.0).
//
// The detector runs in stages: padding and 6-bit conversion, the block maps (direction,
// low contrast, low flow, high curvature), binarisation, minutia detection and
// false-minutia removal. The maps, quality and reliability live in maps.cpp / quality.cpp;
// binarisation, detection and removal live in binarize.cpp, detect.cpp and remove.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <numbers>
#include <vector>

namespace lfs {

// Every field of NIST's version-2 parameter set, with NIST's names.
struct Params {
    int pad_value;
    int join_line_radius;
    int blocksize;
    int windowsize;
    int windowoffset;
    int num_directions;
    double start_dir_angle;
    int rmv_valid_nbr_min;
    double dir_strength_min;
    int dir_distance_max;
    int smth_valid_nbr_min;
    int vort_valid_nbr_min;
    int highcurv_vorticity_min;
    int highcurv_curvature_min;
    int min_interpolate_nbrs;
    int percentile_min_max;
    int min_contrast_delta;
    int num_dft_waves;
    double powmax_min;
    double pownorm_min;
    double powmax_max;
    int fork_interval;
    double fork_pct_powmax;
    double fork_pct_pownorm;
    int dirbin_grid_w;
    int dirbin_grid_h;
    int isobin_grid_dim;
    int num_fill_holes;
    int max_minutia_delta;
    double max_high_curve_theta;
    int high_curve_half_contour;
    int min_loop_len;
    double min_loop_aspect_dist;
    double min_loop_aspect_ratio;
    int link_table_dim;
    int max_link_dist;
    int min_theta_dist;
    int maxtrans;
    double score_theta_norm;
    double score_dist_norm;
    double score_dist_weight;
    double score_numerator;
    int max_rmtest_dist;
    int max_hook_len;
    int max_half_loop;
    int trans_dir_pix;
    int small_loop_len;
    int side_half_contour;
    int inv_block_margin;
    int rm_valid_nbr_min;
    int max_overlap_dist;
    int max_overlap_join_dist;
    int malformation_steps_1;
    int malformation_steps_2;
    double min_malformation_ratio;
    int max_malformation_dist;
    int pores_trans_r;
    int pores_perp_steps;
    int pores_steps_fwd;
    int pores_steps_bwd;
    double pores_min_dist2;
    double pores_max_ratio;
    int max_nbrs;
    int max_ridge_steps;
};

inline constexpr Params kParamsV2{
    .pad_value = 128,
    .join_line_radius = 1,
    .blocksize = 8,
    .windowsize = 24,
    .windowoffset = 8,
    .num_directions = 16,
    .start_dir_angle = std::numbers::pi / 2.0,
    .rmv_valid_nbr_min = 3,
    .dir_strength_min = 0.2,
    .dir_distance_max = 3,
    .smth_valid_nbr_min = 7,
    .vort_valid_nbr_min = 7,
    .highcurv_vorticity_min = 5,
    .highcurv_curvature_min = 5,
    .min_interpolate_nbrs = 2,
    .percentile_min_max = 10,
    .min_contrast_delta = 5,
    .num_dft_waves = 4,
    .powmax_min = 100000.0,
    .pownorm_min = 3.8,
    .powmax_max = 50000000.0,
    .fork_interval = 2,
    .fork_pct_powmax = 0.7,
    .fork_pct_pownorm = 0.75,
    .dirbin_grid_w = 7,
    .dirbin_grid_h = 9,
    .isobin_grid_dim = 0,
    .num_fill_holes = 3,
    .max_minutia_delta = 10,
    .max_high_curve_theta = std::numbers::pi / 3.0,
    .high_curve_half_contour = 14,
    .min_loop_len = 20,
    .min_loop_aspect_dist = 1.0,
    .min_loop_aspect_ratio = 2.25,
    .link_table_dim = 0,
    .max_link_dist = 0,
    .min_theta_dist = 0,
    .maxtrans = 2,
    .score_theta_norm = 0.0,
    .score_dist_norm = 0.0,
    .score_dist_weight = 0.0,
    .score_numerator = 0.0,
    .max_rmtest_dist = 16,
    .max_hook_len = 30,
    .max_half_loop = 30,
    .trans_dir_pix = 4,
    .small_loop_len = 15,
    .side_half_contour = 7,
    .inv_block_margin = 4,
    .rm_valid_nbr_min = 7,
    .max_overlap_dist = 8,
    .max_overlap_join_dist = 6,
    .malformation_steps_1 = 10,
    .malformation_steps_2 = 20,
    .min_malformation_ratio = 2.0,
    .max_malformation_dist = 20,
    .pores_trans_r = 3,
    .pores_perp_steps = 12,
    .pores_steps_fwd = 10,
    .pores_steps_bwd = 8,
    .pores_min_dist2 = 0.5,
    .pores_max_ratio = 2.25,
    .max_nbrs = 5,
    .max_ridge_steps = 10,
};

inline constexpr int kInvalidDir = -1;
inline constexpr double kTruncScale = 16384.0;

// Round half away from zero.
inline int sround(double v) {
    return v < 0.0 ? static_cast<int>(v - 0.5) : static_cast<int>(v + 0.5);
}

// Round to the nearest multiple of 1/16384 (half away from zero). NIST applies this before
// roundings and comparisons so that results do not depend on the floating-point unit.
inline double trunc_prec(double v) {
    return v < 0.0 ? static_cast<int>(v * kTruncScale - 0.5) / kTruncScale
                   : static_cast<int>(v * kTruncScale + 0.5) / kTruncScale;
}

// The padded 6-bit working copy. w and h are the padded sizes; the original image occupies
// [pad, pad + iw) × [pad, pad + ih) with iw = w - 2·pad, ih = h - 2·pad. Pixels are 0..63.
struct PaddedImage {
    int w = 0, h = 0, pad = 0;
    std::vector<uint8_t> px;
    int iw() const { return w - 2 * pad; }
    int ih() const { return h - 2 * pad; }
};

// Block maps, one entry per 8 × 8 block, mw × mh, row-major. iw, ih: unpadded image size.
// direction: 0..15 or -1; the three flags are 0/1.
struct Maps {
    int iw = 0, ih = 0;
    int mw = 0, mh = 0;
    std::vector<int> direction, low_contrast, low_flow, high_curve;

    // Index of the block whose value NIST's "pixelized" map holds at unpadded pixel
    // (x, y): blocks are adjacent except the last column/row, which sits flush with the
    // image edge and wins in the overlap. Requires 0 <= x < iw, 0 <= y < ih.
    int block_at(int x, int y) const {
        int bx = x >= iw - 8 ? mw - 1 : x / 8;
        int by = y >= ih - 8 ? mh - 1 : y / 8;
        return by * mw + bx;
    }
    int dir_at(int x, int y) const { return direction[block_at(x, y)]; }
};

inline constexpr int kBifurcation = 0;
inline constexpr int kRidgeEnding = 1;

struct Minutia {
    int x = 0, y = 0;       // unpadded image coordinates
    int ex = 0, ey = 0;     // edge pixel, unpadded image coordinates
    int direction = 0;      // 0..31 on the full circle, 0 = vertical, clockwise
    double reliability = 0; // detection reliability, replaced by the final quality later
    int type = 0;           // kBifurcation or kRidgeEnding
    int appearing = 0;      // 1 if found by an appearing pattern
    int feature_id = 0;     // pattern id (0..9), or the loop id 10
};

// Maps owner: padding and 6-bit conversion; the block maps.
PaddedImage pad_image(const uint8_t* px, int w, int h, const Params&);
Maps make_maps(const PaddedImage&, const Params&);

// Detector owner. binarize returns the UNPADDED binary image (iw × ih, 1 = ridge,
// 0 = valley). Minutiae are returned and kept in unpadded image coordinates.
std::vector<uint8_t> binarize(const PaddedImage&, const Maps&, const Params&);
std::vector<Minutia> detect_minutiae(std::vector<uint8_t>& bin, int bw, int bh, const Maps&,
                                     const Params&);
void remove_false_minutiae(std::vector<Minutia>&, std::vector<uint8_t>& bin, int bw, int bh,
                           const Maps&, const Params&);

} // namespace lfs
