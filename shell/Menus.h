#pragma once
// Menu items, the menu bar of a window and the right-click menu of the tray icon.

#include <cstdint>
#include <memory>
#include <string>

#include "shell/Events.h"

class TForm;

// Shortcut codes: a virtual key in the low byte plus these modifier bits.
constexpr uint16_t scShift = 0x2000;
constexpr uint16_t scCtrl = 0x4000;
constexpr uint16_t scAlt = 0x8000;

// A menu entry; an item with sub-items opens a menu. "&" in the caption marks the access key.
class TMenuItem : public TObject {
public:
    TMenuItem();
    ~TMenuItem() override;
    TMenuItem(const TMenuItem&) = delete;
    TMenuItem& operator=(const TMenuItem&) = delete;

    std::u16string Caption() const;
    void SetCaption(std::u16string_view caption);
    uint16_t ShortCut() const { return shortCut_; }
    void SetShortCut(uint16_t shortCut);
    void SetOnClick(TNotifyEvent handler) { onClick_ = std::move(handler); }
    void Add(TMenuItem* item);
    // Runs OnClick inside the error guard, as a choice from the menu does.
    void Click();

    struct Impl;
    Impl* Handle() const { return impl_.get(); }

private:
    std::unique_ptr<Impl> impl_;
    uint16_t shortCut_ = 0;
    TNotifyEvent onClick_;
};

// The menu bar of a window; its items are the top-level menus.
class TMainMenu : public TObject {
public:
    explicit TMainMenu(TForm* owner);
    void Add(TMenuItem* item);

private:
    TForm* owner_;
};

class TPopupMenu : public TObject {
public:
    TPopupMenu();
    ~TPopupMenu() override;
    TPopupMenu(const TPopupMenu&) = delete;
    TPopupMenu& operator=(const TPopupMenu&) = delete;

    void Add(TMenuItem* item);

    struct Impl;
    Impl* Handle() const { return impl_.get(); }

private:
    std::unique_ptr<Impl> impl_;
};
