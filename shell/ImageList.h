#pragma once
// A list of equally sized images, used by the tray icon.

#include <cstdint>
#include <memory>
#include <vector>

#include "shell/Events.h"

class TImageList : public TObject {
public:
    TImageList(int width, int height);
    ~TImageList() override;
    TImageList(const TImageList&) = delete;
    TImageList& operator=(const TImageList&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    int Count() const;
    // Adds an image of Width x Height ARGB pixels, row by row (alpha 0 is transparent);
    // returns its index.
    int Add(const std::vector<uint32_t>& argbPixels);
    const std::vector<uint32_t>& Pixels(int index) const;

    struct Impl;
    Impl* Handle() const { return impl_.get(); }

private:
    std::unique_ptr<Impl> impl_;
    int width_;
    int height_;
};
