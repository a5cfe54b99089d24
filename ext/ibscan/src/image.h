// Images of the scanner simulator: the built-in print renderer, BMP reading (image
// sources) and writing (IBSU_SaveBitmapImage).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ibsim {

// An 8-bit grey image, rows top-down and contiguous.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// A rectangle [x0, x1) x [y0, y1).
struct Box {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// Renders one finger print into the w x h area at `pixels` (row pitch `pitch`): a synthetic
// fingerprint of the print generator (seed / 10 names the person, seed % 10 the finger), dark
// ridges on white; areas the generator cannot fill get concentric ridges in an oval. Returns
// the finger's bounding box in the area's coordinates.
Box renderPrintInto(unsigned seed, int w, int h, uint8_t* pixels, int pitch);

// Renders `fingers` prints side by side into a w x h frame; boxes receives each finger's
// bounding box.
Frame renderFingers(unsigned seed, int w, int h, int fingers, std::vector<Box>& boxes);

// Renders two or four fingers of one hand into a w x h frame, one print per finger as an
// oval on a common white ground with gaps between the fingers (one finger: renderFingers).
// boxes receives each finger's bounding box.
Frame renderHand(unsigned seed, int w, int h, int fingers, std::vector<Box>& boxes);

// The rolled print of a flat one: the finger inside `box` drawn out sideways about its
// centre; box becomes the rolled finger's box.
Frame rollOut(const Frame& flat, Box& box);

// Reads an 8-bit (paletted, uncompressed) BMP file, bottom-up or top-down, into grey
// levels (the palette's luminance). False on any fault or on sides above maxSide.
bool readBmp8(const std::string& path, Frame& out, int maxSide);
bool decodeBmp8(const uint8_t* data, std::size_t size, Frame& out, int maxSide);

// Writes an 8-bit grey BMP (pixels at 1078, rows bottom-up padded to 4 with zeros). Row y
// of the picture is read from pixels + y * pitch. Returns an IBSU_* code.
int writeBmp8(const char* path, const uint8_t* pixels, uint32_t width, uint32_t height, int pitch,
              double resX, double resY);

} // namespace ibsim
