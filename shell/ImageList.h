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
    int Count() const { return static_cast<int>(images_.size()); }
    // Adds an image of Width x Height ARGB pixels, row by row (alpha 0 is transparent);
    // returns its index. Raises std::invalid_argument for another size.
    int Add(const std::vector<uint32_t>& argbPixels);
    const std::vector<uint32_t>& Pixels(int index) const { return images_.at(index); }
    // The image `factor` times as wide and high, each pixel a factor x factor square: pixel
    // pictures stay sharp, without the blur of smoothing.
    std::vector<uint32_t> ScaledPixels(int index, int factor) const;
    // The sizes the desktop is offered of each image, as multiples of Width() x Height()
    // (16, 32 and 48 pixels for the tray's 16x16 images), so a scaled screen need not blur them.
    static constexpr int ScaleFactors[] = {1, 2, 3};

    // The images in the desktop's own form, made when first shown.
    struct Impl;
    Impl* Handle() const { return impl_.get(); }

private:
    std::unique_ptr<Impl> impl_;
    int width_;
    int height_;
    std::vector<std::vector<uint32_t>> images_;
};
