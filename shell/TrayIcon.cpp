// The parts of the tray icon that every desktop back-end shares: which image and tip it shows,
// the guarded double click and the notice.

#include "shell/TrayIcon.h"

#include "shell/Application.h"

void TTrayIcon::SetIcons(TImageList* icons) {
    icons_ = icons;
    ShowImage();
}

void TTrayIcon::SetImageIndex(int index) {
    if (index == imageIndex_)
        return;
    imageIndex_ = index;
    ++updateCount_;
    ShowImage();
}

void TTrayIcon::SetHint(std::u16string_view hint) {
    std::u16string cut(hint.substr(0, MaxHintLength));
    if (cut.size() == MaxHintLength && cut.back() >= 0xD800 && cut.back() <= 0xDBFF)
        cut.pop_back(); // never leave half of a surrogate pair
    if (cut == hint_)
        return;
    hint_ = std::move(cut);
    ++updateCount_;
    ShowHint();
}

void TTrayIcon::DblClick() {
    if (onDblClick_)
        Application->Guarded([this] { onDblClick_(this); });
}

void TTrayIcon::ShowNotice(std::u16string_view summary, std::u16string_view body) {
    noticeSummary_ = summary;
    noticeBody_ = body;
    ++noticeCount_;
    ShowNoticeOnDesktop();
}

void TTrayIcon::NoticeClick() {
    if (onNoticeClick_)
        Application->Guarded([this] { onNoticeClick_(this); });
}
