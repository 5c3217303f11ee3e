#include "shell/ImageList.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <stdexcept>

#include "shell/qt/QtBridge.h"

TImageList::TImageList(int width, int height)
    : impl_(std::make_unique<Impl>()), width_(width), height_(height) {}
TImageList::~TImageList() = default;

int TImageList::Count() const {
    return static_cast<int>(impl_->pixels.size());
}

int TImageList::Add(const std::vector<uint32_t>& argbPixels) {
    if (argbPixels.size() != static_cast<size_t>(width_ * height_))
        throw std::invalid_argument("image size does not match the image list");
    impl_->pixels.push_back(argbPixels);
    return Count() - 1;
}

const std::vector<uint32_t>& TImageList::Pixels(int index) const {
    return impl_->pixels.at(index);
}

QIcon TImageList::Impl::Icon(const TImageList& list, int index) const {
    if (index < 0 || index >= list.Count())
        return {};
    const QImage image(reinterpret_cast<const uchar*>(pixels[index].data()), list.Width(), list.Height(),
                       QImage::Format_ARGB32);
    return QIcon(QPixmap::fromImage(image.copy()));
}
