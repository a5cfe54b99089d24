#pragma once
// A finger-slot viewer for the tests: it holds a block and counts what the routines ask of it.
#include "DibViewer.h"

#include <cstring>

class FakeViewer : public TDibViewer {
  public:
    const DibBlock* Image() const override { return FImage.get(); }
    std::unique_ptr<DibBlock> CopyRect(int left, int top, int right, int bottom) const override {
        ++CopyCalls;
        return FImage ? CopyDibRect(*FImage, left, top, right, bottom) : nullptr;
    }
    void SetImage(std::unique_ptr<DibBlock> block) override { FImage = std::move(block); }
    void Relayout() override { ++RelayoutCalls; }

    // Picture pixel (x, y), y counted from the top.
    uint8_t At(int x, int y) const { return FImage->StoredRow(FImage->Height() - 1 - y)[x]; }

    std::unique_ptr<DibBlock> FImage;
    mutable int CopyCalls = 0;
    int RelayoutCalls = 0;
};

// A w×h block whose picture pixel (x, y) (y from the top) is (x + 7·y) mod 256.
inline std::unique_ptr<DibBlock> PatternBlock(int w, int h) {
    auto b = DibBlock::CreateGrey(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b->StoredRow(h - 1 - y)[x] = static_cast<uint8_t>((x + 7 * y) & 0xff);
    return b;
}
