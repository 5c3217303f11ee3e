#pragma once
// The icon in the notification area of the desktop's panel.

#include <memory>
#include <string>

#include "shell/Events.h"

class TImageList;
class TPopupMenu;

// Shows one image of its image list and a tip. The right button opens the popup menu; a
// double click raises OnDblClick. Where the platform has no notification area at all
// (the offscreen platform of the tests), the icon counts as shown and keeps its state.
class TTrayIcon : public TObject {
public:
    static constexpr std::size_t MaxHintLength = 127;

    // The tip starts as the application title.
    TTrayIcon();
    ~TTrayIcon() override;
    TTrayIcon(const TTrayIcon&) = delete;
    TTrayIcon& operator=(const TTrayIcon&) = delete;

    bool Visible() const { return visible_; }
    // Adds the icon to the notification area. On Linux, without a tray host, the program goes on
    // and the icon appears as soon as one does. On Windows it waits a few seconds for a task bar
    // that is still starting and raises Exception "Cannot create shell notification icon" when
    // none appears.
    void SetVisible(bool visible);
    // Attaching the image list shows its image ImageIndex().
    void SetIcons(TImageList* icons);
    int ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int index); // an unchanged value is skipped
    const std::u16string& Hint() const { return hint_; }
    void SetHint(std::u16string_view hint); // cut to MaxHintLength; an unchanged value is skipped
    void SetPopupMenu(TPopupMenu* menu);
    void SetOnDblClick(TNotifyEvent handler) { onDblClick_ = std::move(handler); }
    // Runs OnDblClick inside the error guard, as a double click does.
    void DblClick();

    // A notice for the user, in place of the previous one: on Linux through the session's
    // notification service (org.freedesktop.Notifications, with the program's icon; nothing,
    // silently, where no service answers), on Windows as the icon's balloon. A click on it
    // raises OnNoticeClick.
    void ShowNotice(std::u16string_view summary, std::u16string_view body);
    const std::u16string& NoticeSummary() const { return noticeSummary_; }
    const std::u16string& NoticeBody() const { return noticeBody_; }
    // How many notices were shown.
    int NoticeCount() const { return noticeCount_; }
    void SetOnNoticeClick(TNotifyEvent handler) { onNoticeClick_ = std::move(handler); }
    // Runs OnNoticeClick inside the error guard, as a click on the notice does.
    void NoticeClick();

    // How many times the shown image or tip actually changed (skipped values do not count).
    int UpdateCount() const { return updateCount_; }

    struct Impl;

private:
    // Hand the image and the tip to the notification area, when the icon is there.
    void ShowImage();
    void ShowHint();
    void ShowNoticeOnDesktop();

    std::unique_ptr<Impl> impl_;
    bool visible_ = false;
    TImageList* icons_ = nullptr;
    TPopupMenu* popupMenu_ = nullptr;
    int imageIndex_ = 0;
    std::u16string hint_;
    int updateCount_ = 0;
    TNotifyEvent onDblClick_;
    std::u16string noticeSummary_;
    std::u16string noticeBody_;
    int noticeCount_ = 0;
    TNotifyEvent onNoticeClick_;
};
