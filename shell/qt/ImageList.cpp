#include "shell/ImageList.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>

#include "shell/qt/QtBridge.h"

TImageList::TImageList(int width, int height)
    : impl_(std::make_unique<Impl>()), width_(width), height_(height) {}
TImageList::~TImageList() = default;

QIcon TImageList::Impl::Icon(const TImageList& list, int index) const {
    if (index < 0 || index >= list.Count())
        return {};
    QIcon icon;
    for (int factor : ScaleFactors)
        icon.addPixmap(QPixmap::fromImage(Image(list, index, factor)));
    return icon;
}

QImage TImageList::Impl::Image(const TImageList& list, int index, int factor) {
    const std::vector<uint32_t> pixels = list.ScaledPixels(index, factor);
    return QImage(reinterpret_cast<const uchar*>(pixels.data()), list.Width() * factor,
                  list.Height() * factor, QImage::Format_ARGB32)
        .copy();
}
