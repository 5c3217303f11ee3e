#include "shell/ImageList.h"

#include <stdexcept>

int TImageList::Add(const std::vector<uint32_t>& argbPixels) {
    if (argbPixels.size() != static_cast<size_t>(width_ * height_))
        throw std::invalid_argument("image size does not match the image list");
    images_.push_back(argbPixels);
    return Count() - 1;
}

std::vector<uint32_t> TImageList::ScaledPixels(int index, int factor) const {
    const std::vector<uint32_t>& pixels = Pixels(index);
    const size_t width = static_cast<size_t>(width_) * factor;
    std::vector<uint32_t> scaled(width * height_ * factor);
    for (size_t y = 0; y < static_cast<size_t>(height_) * factor; ++y)
        for (size_t x = 0; x < width; ++x)
            scaled[y * width + x] = pixels[y / factor * width_ + x / factor];
    return scaled;
}
