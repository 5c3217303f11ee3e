#include "shell/ImageList.h"

#include "shell/win32/IconFromPixels.h"
#include "shell/win32/Win32Bridge.h"

TImageList::TImageList(int width, int height)
    : impl_(std::make_unique<Impl>()), width_(width), height_(height) {}
TImageList::~TImageList() = default;

TImageList::Impl::~Impl() {
    for (HICON icon : icons)
        if (icon)
            DestroyIcon(icon);
}

HICON TImageList::Impl::Icon(const TImageList& list, int index) {
    if (index < 0 || index >= list.Count())
        return nullptr;
    if (icons.size() < static_cast<size_t>(list.Count()))
        icons.resize(static_cast<size_t>(list.Count()), nullptr);
    HICON& icon = icons[static_cast<size_t>(index)];
    if (!icon)
        icon = IconOfSize(list, index, GetSystemMetrics(SM_CXSMICON));
    return icon;
}
