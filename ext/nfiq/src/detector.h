// Helpers of the minutia detector shared by binarisation, detection and false-minutia
// removal: the binary image, contour tracing along a ridge/valley edge, loop handling and
// the digital geometry of NIST's LFS version 2.
//
// Conventions: the binary image holds 1 for ridge (black) and 0 for valley (white). A
// minutia's feature pixel has the value of its type (1 for a ridge ending, 0 for a
// bifurcation), and its edge pixel is a 4-neighbour with the opposite value. Full-circle
// directions are 0..31 in 11.25° steps: direction 0 points up the image (towards smaller y)
// and directions increase clockwise as seen on screen, so direction D points along
// (sin(D·π/16), −cos(D·π/16)) in image coordinates. A minutia's direction points into the
// body of its feature (along the ridge for an ending, into the valley for a bifurcation).
#pragma once

#include "lfs.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace lfs::det {

// A mutable view of the unpadded binary image.
struct Bin {
    uint8_t* px;
    int w, h;
    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h; }
    uint8_t at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
    void set(int x, int y, uint8_t v) { px[static_cast<size_t>(y) * w + x] = v; }
};

// A point on a contour: the feature pixel and the opposite-valued edge pixel beside it.
struct ContourPt {
    int x, y, ex, ey;
};
using Contour = std::vector<ContourPt>;

// Ok: the trace ran its steps or stopped early where no further contour pixel exists (the
// contour is then shorter); Loop: it came back to the loop pixel; Ignore: the start pixel
// and its edge pixel have the same value, so there is no contour to follow.
enum class Trace { Ok, Loop, Ignore };

// One step along the contour of the feature region: looks round the neighbours of `cur`
// starting from its edge pixel, clockwise or counter-clockwise (as seen on screen), for a
// pixel with the value of `cur` whose predecessor in that order has the value of the edge
// pixel; the predecessor becomes the new edge pixel. A diagonal neighbour is taken only
// when the neighbour after it also has the feature value; otherwise the look-round goes on
// past that neighbour. Fails when a neighbour looked at lies outside the image or none
// qualifies.
bool next_contour_pixel(const Bin&, const ContourPt& cur, bool clockwise, ContourPt& next);

// Follows the contour from `start` for up to max_len steps (start itself not included in
// `out`). Returns Loop as soon as the pixel (loop_x, loop_y) is reached (that pixel is not
// appended), Ok after max_len steps or where the contour cannot be followed further.
Trace trace_contour(const Bin&, int max_len, int loop_x, int loop_y, const ContourPt& start,
                    bool clockwise, Contour& out);

// Contour of 2·half + 1 points centred on `start`: `half` points traced clockwise (listed
// in reverse), the start, then `half` points traced counter-clockwise. Ok only when both
// halves are complete; Loop when either trace closes a loop; Ignore otherwise.
Trace centered_contour(const Bin&, int half, const ContourPt& start, Contour& out);

enum class Search { Found, NotFound };

// Whether (tx, ty) is met within max_len steps of a trace from `start`.
Search search_contour(const Bin&, int tx, int ty, int max_len, const ContourPt& start,
                      bool clockwise);

// Whether the closed contour turns clockwise on screen, from the sum of the turns of its
// chain code; `if_degenerate` for three points or fewer or when the turns cancel out.
bool loop_is_clockwise(const Contour&, bool if_degenerate);

// Gives the pixels inside the closed contour, the contour included, the edge value. Row by
// row between the contour points of the row; where the pixel right of a filled contour
// point already has the edge value, the gap up to the next contour point is a concavity
// and stays as it is.
void fill_loop(Bin&, const Contour&);

// Full-circle direction (0..31) of the line from (fx, fy) to (tx, ty).
int line_to_direction(int fx, int fy, int tx, int ty, int full_ndirs);

// Difference between two directions on a circle of n units (0..n/2).
int dir_distance(int a, int b, int n);

// Pixels of the digital straight line from (x1, y1) to (x2, y2), both ends included: one
// pixel per step along the longer axis, the other coordinate accumulated and rounded.
std::vector<std::pair<int, int>> line_points(int x1, int y1, int x2, int y2);

// Number of value changes along the digital line between two pixels.
int line_transitions(const Bin&, int x1, int y1, int x2, int y2);

// Block under pixel (x, y) by integer division, clamped to the map.
inline int block_floor(const Maps& m, int x, int y, int blocksize) {
    int bx = x / blocksize, by = y / blocksize;
    bx = bx < 0 ? 0 : (bx >= m.mw ? m.mw - 1 : bx);
    by = by < 0 ? 0 : (by >= m.mh ? m.mh - 1 : by);
    return by * m.mw + bx;
}

// One pass of NIST's hole filling: a pixel whose left and right (then upper and lower)
// neighbours agree with each other but not with it takes their value.
void fill_holes(std::vector<uint8_t>& bin, int w, int h);

// Offset of `steps` pixels along full-circle direction `dir` (x right, y down), each
// coordinate rounded to 1/16384 and then to the nearest pixel.
void dir_step(int dir, double steps, int full_ndirs, int& dx, int& dy);

// remove_false_minutiae with a call after each removal step (step name, surviving list),
// for developer comparisons with a reference detector.
using StepObserver = std::function<void(const char*, const std::vector<Minutia>&)>;
void remove_false_minutiae_observed(std::vector<Minutia>&, std::vector<uint8_t>& bin, int bw,
                                    int bh, const Maps&, const Params&, const StepObserver&);

} // namespace lfs::det
