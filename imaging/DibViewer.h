#pragma once
// What the bitmap routines need of an image viewer: its image as a block, a copy of a
// rectangle of it, a way to hand it a new block (the viewer then owns it and releases the old
// one) and a way to lay the image out again at the viewer's current zoom.
#include "dibutils.h"

#include <memory>

class TDibViewer {
  public:
    virtual ~TDibViewer() = default;
    // The image (none when empty); the viewer keeps ownership.
    virtual const DibBlock* Image() const = 0;
    // A new block holding the rectangle (left, top)–(right, bottom) of the image, in top-down
    // coordinates with right and bottom exclusive, copied without resampling; none when the
    // viewer is empty or the rectangle does not lie inside the image.
    virtual std::unique_ptr<DibBlock> CopyRect(int left, int top, int right, int bottom) const = 0;
    virtual void SetImage(std::unique_ptr<DibBlock> block) = 0;
    virtual void Relayout() = 0;
};

// A viewer without a window that only holds its block, for running the bitmap routines where
// nothing is shown (benchmarks, fuzzing).
class TDibHolder : public TDibViewer {
  public:
    const DibBlock* Image() const override { return FImage.get(); }
    std::unique_ptr<DibBlock> CopyRect(int left, int top, int right, int bottom) const override {
        return FImage ? CopyDibRect(*FImage, left, top, right, bottom) : nullptr;
    }
    void SetImage(std::unique_ptr<DibBlock> block) override { FImage = std::move(block); }
    void Relayout() override {}
    std::unique_ptr<DibBlock> FImage;
};
