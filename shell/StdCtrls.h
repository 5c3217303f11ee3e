#pragma once
// The controls that a window owns: labels, edit boxes, buttons with a glyph and check boxes.
// Each is placed in client pixels of its window.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "shell/Classes.h"

class TForm;

class TControl : public TObject {
public:
    ~TControl() override;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    void SetBounds(int left, int top, int width, int height);
    int Left() const;
    int Top() const;
    int Width() const;
    int Height() const;
    bool Enabled() const;
    void SetEnabled(bool enabled);
    // -1 for controls that the Tab key passes over.
    int TabOrder() const { return tabOrder_; }
    void SetTabOrder(int order);
    void SetFont(std::u16string_view family, int pixelHeight);

    struct Impl;
    Impl* Handle() const { return impl_.get(); }

protected:
    TControl(TForm* owner, std::unique_ptr<Impl> impl);
    TForm* Owner() const { return owner_; }

private:
    TForm* owner_;
    std::unique_ptr<Impl> impl_;
    int tabOrder_ = -1;
};

class TLabel : public TControl {
public:
    explicit TLabel(TForm* owner);
    std::u16string Caption() const;
    void SetCaption(std::u16string_view caption);
};

class TEdit : public TControl {
public:
    explicit TEdit(TForm* owner);
    std::u16string Text() const;
    void SetText(std::u16string_view text);
    // Accepts digits only.
    void SetNumbersOnly(bool numbersOnly);
    // Shows every character as this one; 0 shows the text.
    void SetPasswordChar(char16_t passwordChar);
};

// A push button; "&" in the caption marks the access key.
class TBitBtn : public TControl {
public:
    explicit TBitBtn(TForm* owner);
    std::u16string Caption() const;
    void SetCaption(std::u16string_view caption);
    // A 16x16 picture left of the caption, as ARGB pixels row by row.
    void SetGlyph(const std::vector<uint32_t>& argbPixels);
    // The default button is pressed by Enter in an edit box of the window.
    void SetDefault(bool isDefault);
    void SetOnClick(TNotifyEvent handler) { onClick_ = std::move(handler); }
    void Click();

private:
    TNotifyEvent onClick_;
};

// Changing the ticked state, by the user or by the program, runs OnClick.
class TCheckBox : public TControl {
public:
    explicit TCheckBox(TForm* owner);
    std::u16string Caption() const;
    void SetCaption(std::u16string_view caption);
    bool Checked() const;
    void SetChecked(bool checked);
    void SetOnClick(TNotifyEvent handler) { onClick_ = std::move(handler); }

private:
    void Toggled();
    TNotifyEvent onClick_;
};
