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
    const QImage image(reinterpret_cast<const uchar*>(list.Pixels(index).data()), list.Width(), list.Height(),
                       QImage::Format_ARGB32);
    return QIcon(QPixmap::fromImage(image.copy()));
}
