#include "shell/ImageList.h"

#include <stdexcept>

int TImageList::Add(const std::vector<uint32_t>& argbPixels) {
    if (argbPixels.size() != static_cast<size_t>(width_ * height_))
        throw std::invalid_argument("image size does not match the image list");
    images_.push_back(argbPixels);
    return Count() - 1;
}
