#pragma once
// The controls that a window owns: labels, edit boxes, buttons with a glyph, check boxes and
// drop-down lists.
// Each is placed in client pixels of its window. A control keeps its properties itself and gets
// its on-screen widget only when the window is first shown: a program that stays in the tray
// never pays for laying out text it does not show.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "shell/Events.h"

class TForm;

class TControl : public TObject {
public:
    ~TControl() override;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    void SetBounds(int left, int top, int width, int height);
    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    // A hidden control takes no room on screen and no part in tabbing.
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    // -1 for controls that the Tab key passes over.
    int TabOrder() const { return tabOrder_; }
    void SetTabOrder(int order);
    void SetFont(std::u16string_view family, int pixelHeight);

    // Creates the on-screen widget, once; the window calls it before it is first shown.
    void HandleNeeded();
    bool HandleAllocated() const;

    struct Impl;
    Impl* Handle() const { return impl_.get(); }

protected:
    explicit TControl(TForm* owner);
    TForm* Owner() const { return owner_; }
    // Makes the widget of the derived class and gives it the properties kept so far.
    virtual void CreateWidget() = 0;

private:
    void ApplyCommonProperties();

    TForm* owner_;
    std::unique_ptr<Impl> impl_;
    int left_ = 0;
    int top_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool enabled_ = true;
    bool visible_ = true;
    int tabOrder_ = -1;
    std::u16string fontFamily_; // empty: the window's font
    int fontPixelHeight_ = 0;
};

class TLabel : public TControl {
public:
    explicit TLabel(TForm* owner) : TControl(owner) {}
    const std::u16string& Caption() const { return caption_; }
    void SetCaption(std::u16string_view caption);
    // A caption wider than the label is shortened in its middle with "…", and the whole caption
    // shows as a tip while the pointer rests on the label.
    bool ElidedInMiddle() const { return elidedInMiddle_; }
    void SetElidedInMiddle(bool elided);

protected:
    void CreateWidget() override;

private:
    std::u16string caption_;
    bool elidedInMiddle_ = false;
};

// A one-line edit box. Enter in it presses the window's default button, whatever it holds.
class TEdit : public TControl {
public:
    explicit TEdit(TForm* owner) : TControl(owner) {}
    const std::u16string& Text() const { return text_; }
    void SetText(std::u16string_view text);
    // Accepts digits only.
    void SetNumbersOnly(bool numbersOnly);
    // Shows every character as this one; 0 shows the text.
    void SetPasswordChar(char16_t passwordChar);
    // Runs when the user changes the text, not when the program sets it.
    void SetOnChange(TNotifyEvent handler) { onChange_ = std::move(handler); }

protected:
    void CreateWidget() override;

private:
    // The widget shows this text now: kept, and reported when the user changed it.
    void TextShown(std::u16string text);

    std::u16string text_; // follows the user's typing
    TNotifyEvent onChange_;
    bool numbersOnly_ = false;
    char16_t passwordChar_ = 0;
};

// A push button; "&" in the caption marks the access key.
class TBitBtn : public TControl {
public:
    explicit TBitBtn(TForm* owner) : TControl(owner) {}
    const std::u16string& Caption() const { return caption_; }
    void SetCaption(std::u16string_view caption);
    // A 16x16 picture left of the caption, as ARGB pixels row by row.
    const std::vector<uint32_t>& Glyph() const { return glyph_; }
    void SetGlyph(const std::vector<uint32_t>& argbPixels);
    // Enter anywhere in the window presses the default button, except on a focused push
    // button, which Enter presses itself.
    void SetDefault(bool isDefault);
    void SetOnClick(TNotifyEvent handler) { onClick_ = std::move(handler); }
    void Click();

protected:
    void CreateWidget() override;

private:
    std::u16string caption_;
    std::vector<uint32_t> glyph_;
    bool default_ = false;
    TNotifyEvent onClick_;
};

// Changing the ticked state, by the user or by the program, runs OnClick. A click anywhere in
// the control's area toggles it, not only on its square and caption.
class TCheckBox : public TControl {
public:
    explicit TCheckBox(TForm* owner) : TControl(owner) {}
    const std::u16string& Caption() const { return caption_; }
    void SetCaption(std::u16string_view caption);
    bool Checked() const { return checked_; }
    void SetChecked(bool checked);
    void SetOnClick(TNotifyEvent handler) { onClick_ = std::move(handler); }

protected:
    void CreateWidget() override;

private:
    void Click();
    // Shows the ticked state on the widget without running the click reaction.
    void ShowChecked();

    std::u16string caption_;
    bool checked_ = false;
    TNotifyEvent onClick_;
};

// A drop-down list: the user picks one of its items and cannot type a text of his own. OnChange
// runs when the user picks another item, not when the program sets ItemIndex.
class TComboBox : public TControl {
public:
    explicit TComboBox(TForm* owner) : TControl(owner) {}
    const std::vector<std::u16string>& Items() const { return items_; }
    // Replaces the items; the chosen index stays when the new list still holds it, else -1.
    void SetItems(std::vector<std::u16string> items);
    // The chosen item's index, -1 when none is chosen.
    int ItemIndex() const { return itemIndex_; }
    // An index outside the items chooses none.
    void SetItemIndex(int index);
    void SetOnChange(TNotifyEvent handler) { onChange_ = std::move(handler); }

protected:
    void CreateWidget() override;

private:
    // The user picked the item at this index on the widget.
    void Picked(int index);
    // Shows the items and the chosen one on the widget without reporting a change.
    void ShowItems();
    void ShowItemIndex();

    std::vector<std::u16string> items_;
    int itemIndex_ = -1;
    TNotifyEvent onChange_;
};
