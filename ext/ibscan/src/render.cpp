// The prints a capture shows: from a file or rendered, rolled, cut into segments.
#include "world.h"

#include "control.h"
#include "eventlog.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace ibsim {

std::string Sim::resolvePath(const std::string& p) const {
    if (p.empty() || p.front() == '/' || scenario_.baseDir.empty())
        return p;
    return scenario_.baseDir + "/" + p;
}

void Sim::preparePrint(Device& d) {
    Scanner& sc = *d.sc;
    int w = sc.singleWidth, h = sc.singleHeight;
    if (d.type == IBSU_FLAT_TWO_FINGERS || d.type == IBSU_FLAT_FOUR_FINGERS) {
        w = kFourFingerWidth;
        h = kFourFingerHeight;
    }
    const int fingers = d.script.fingers > 0 ? d.script.fingers : defaultFingers(d.type);
    const std::string path = resolvePath(sc.imageOverride ? sc.imagePath : d.script.image);
    unsigned seed = sc.imageOverride   ? sc.seed
                    : d.script.hasSeed ? d.script.seed
                                       : static_cast<unsigned>(sc.id * 1000 + sc.captureNo);
    auto frame = std::make_shared<Frame>();
    d.boxes.clear();
    bool loaded = false;
    if (!path.empty()) {
        loaded = readBmp8(path, *frame, kMaxBmpSide);
        if (!loaded)
            std::fprintf(stderr,
                         "ibscan simulator: cannot read 8-bit BMP '%s', using the "
                         "built-in print\n",
                         path.c_str());
    }
    if (loaded) {
        // One strip per finger across the picture.
        const int n = std::max(1, std::min(fingers, frame->width));
        for (int i = 0; i < n; ++i)
            d.boxes.push_back(
                Box{frame->width * i / n, 0, frame->width * (i + 1) / n, frame->height});
    } else {
        // Rendered when the finger first shows (printOf), not in the call that begins
        // the capture, which the host makes on its GUI thread.
        frame = nullptr;
        d.renderSeed = seed;
        d.fingerTiles = fingers;
    }
    auto blank = std::make_shared<Frame>();
    blank->width = frame ? frame->width : w;
    blank->height = frame ? frame->height : h;
    blank->pixels.assign(static_cast<std::size_t>(blank->width) * blank->height, 255);
    d.print = std::move(frame);
    d.imageWidth = blank->width;
    d.imageHeight = blank->height;
    d.blank = std::move(blank);
}

const std::shared_ptr<const Frame>& Sim::printOf(Device& d) {
    if (!d.print) {
        Frame f = renderHand(d.renderSeed, d.imageWidth, d.imageHeight, d.fingerTiles, d.boxes);
        if (d.type == IBSU_ROLL_SINGLE_FINGER && d.boxes.size() == 1)
            f = rollOut(f, d.boxes[0]);
        d.print = std::make_shared<const Frame>(std::move(f));
    }
    return d.print;
}

std::shared_ptr<const Frame> Sim::rollingFrame(Device& d) {
    const auto& print = printOf(d);
    if (d.boxes.size() != 1)
        return print;
    const Box b = d.boxes[0];
    const double p = std::clamp(
        static_cast<double>(nowLocked() - d.rollStartMs) / std::max(1, d.rollMs), 0.0, 1.0);
    const int edge = b.x0 + static_cast<int>((b.x1 - b.x0) * (0.35 + 0.65 * p));
    auto f = std::make_shared<Frame>(*print);
    for (int y = 0; y < f->height; ++y)
        for (int x = std::max(0, edge); x < f->width; ++x)
            f->pixels[static_cast<std::size_t>(y) * f->width + x] = 255;
    return f;
}

void Sim::cutSegments(ResultData& res, const std::vector<Box>& fingerBoxes, int n) {
    const Frame& img = *res.whole;
    std::vector<Box> boxes;
    if (n == static_cast<int>(fingerBoxes.size())) {
        boxes = fingerBoxes;
    } else {
        for (int i = 0; i < n; ++i)
            boxes.push_back(Box{img.width * i / n, 0, img.width * (i + 1) / n, img.height});
    }
    for (Box b : boxes) {
        b.x0 = std::clamp(b.x0, 0, img.width - 1);
        b.y0 = std::clamp(b.y0, 0, img.height - 1);
        b.x1 = std::clamp(b.x1, b.x0 + 1, img.width);
        b.y1 = std::clamp(b.y1, b.y0 + 1, img.height);
        Frame seg;
        seg.width = b.x1 - b.x0;
        seg.height = b.y1 - b.y0;
        seg.pixels.resize(static_cast<std::size_t>(seg.width) * seg.height);
        for (int y = 0; y < seg.height; ++y)
            std::memcpy(seg.pixels.data() + static_cast<std::size_t>(y) * seg.width,
                        img.pixels.data() + static_cast<std::size_t>(b.y0 + y) * img.width + b.x0,
                        static_cast<std::size_t>(seg.width));
        res.segments.push_back(std::move(seg));
        IBSU_SegmentPosition q{};
        q.x1 = static_cast<int16_t>(b.x0);
        q.y1 = static_cast<int16_t>(b.y0);
        q.x2 = static_cast<int16_t>(b.x1 - 1);
        q.y2 = static_cast<int16_t>(b.y0);
        q.x3 = static_cast<int16_t>(b.x1 - 1);
        q.y3 = static_cast<int16_t>(b.y1 - 1);
        q.x4 = static_cast<int16_t>(b.x0);
        q.y4 = static_cast<int16_t>(b.y1 - 1);
        res.quads.push_back(q);
    }
}

} // namespace ibsim
