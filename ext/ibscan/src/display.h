// What the live preview shows, handed by the simulator to the preview drawing (which
// lives in the Qt part of the library, so that the simulator core needs no Qt).
#pragma once

#include "image.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ibsim {

struct OverlayText {
    int id = 0;
    std::string font = "Arial";
    int size = 10;
    bool bold = false;
    std::string text; // UTF-8
    int x = 0, y = 0;
    uint32_t colour = 0; // 0x00BBGGRR
};

struct OverlayQuad {
    int id = 0;
    int c[8] = {}; // x1, y1 .. x4, y4
    int width = 0;
    uint32_t colour = 0;
    bool hidden() const {
        if (width <= 0)
            return true;
        for (int v : c)
            if (v != 0)
                return false;
        return true;
    }
};

struct DisplayModel {
    std::shared_ptr<const Frame> image; // last preview or result image (may be null)
    int clientWidth = 0, clientHeight = 0;
    double scale = 0;
    int left = 0, top = 0;          // where the scaled image's top-left corner lies
    uint32_t background = 0xFFFFFF; // 0x00BBGGRR
    OverlayText clientText;         // the client window's own text
    std::vector<OverlayText> texts;
    std::vector<OverlayQuad> quads;
};

// Called with the simulator's lock held: implementations must only queue work.
struct DisplayHooks {
    void (*attach)(int handle, void* host, int left, int top, int right, int bottom);
    void (*update)(int handle, const DisplayModel& model);
    void (*detach)(int handle);
};

void setDisplayHooks(const DisplayHooks* hooks);

} // namespace ibsim
