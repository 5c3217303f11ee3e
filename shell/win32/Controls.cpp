#include "shell/Controls.h"

#include <windows.h>

#include <commctrl.h>

#include "shell/win32/IconFromPixels.h"
#include "shell/win32/Win32Bridge.h"

namespace {

constexpr wchar_t ControlProperty[] = L"BrevgluggenControl";
constexpr int GlyphSize = 16;
constexpr int GlyphGap = 4; // pixels around a button's glyph: from the border, to the caption

template <class Control> HWND WindowOf(const Control* control) {
    return control->Handle()->window;
}

// Makes the control's child window in the owner's client area; its place and font follow.
HWND MakeWindow(TControl* control, TForm* owner, const wchar_t* windowClass, DWORD style,
                std::u16string_view text, DWORD exStyle = 0) {
    static int nextId = 100; // menu commands have numbers of their own, from 1000 up
    HWND window =
        CreateWindowExW(exStyle, windowClass, ToWide(text).c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                        owner->Handle()->window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(nextId++)),
                        GetModuleHandleW(nullptr), nullptr);
    SetPropW(window, ControlProperty, control->Handle());
    control->Handle()->window = window;
    return window;
}

void SetStyleBit(HWND window, DWORD bit, bool on) {
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    SetWindowLongPtrW(window, GWL_STYLE, on ? (style | bit) : (style & ~static_cast<LONG_PTR>(bit)));
}

void ShowPasswordChar(HWND edit, char16_t passwordChar) {
    SendMessageW(edit, EM_SETPASSWORDCHAR, passwordChar, 0);
    InvalidateRect(edit, nullptr, TRUE);
}

// Button glyphs are drawn on a transparent background left of the caption, a few pixels apart
// from it.
void ShowGlyph(TControl::Impl& impl, const std::vector<uint32_t>& argbPixels) {
    HICON previous = impl.glyph;
    HIMAGELIST previousList = impl.glyphList;
    impl.glyph = IconFromPixels(argbPixels, GlyphSize, GlyphSize);
    impl.glyphList = ImageList_Create(GlyphSize, GlyphSize, ILC_COLOR32, 1, 0);
    ImageList_AddIcon(impl.glyphList, impl.glyph);
    BUTTON_IMAGELIST list{impl.glyphList, {GlyphGap, 0, GlyphGap, 0}, BUTTON_IMAGELIST_ALIGN_LEFT};
    SendMessageW(impl.window, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&list));
    if (previous)
        DestroyIcon(previous);
    if (previousList)
        ImageList_Destroy(previousList);
}

// An elided label's tip: the whole caption while the pointer rests on the label.
void ShowLabelTip(TControl::Impl& impl, std::u16string_view caption, bool elided) {
    if (!elided) {
        if (impl.tip)
            DestroyWindow(impl.tip);
        impl.tip = nullptr;
        return;
    }
    const std::wstring text = ToWide(caption);
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = GetParent(impl.window);
    tool.uId = reinterpret_cast<UINT_PTR>(impl.window);
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    if (!impl.tip) {
        impl.tip =
            CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, tool.hwnd, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
        SendMessageW(impl.tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    } else {
        SendMessageW(impl.tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

// The system sizes a closed drop-down list by its font: its selection field is made as high as
// the layout asks the closed box to be. The field need not take the height asked for one for one
// (its border may be added): the box is measured again after each step.
void FitClosedHeight(HWND box, int height) {
    int asked = static_cast<int>(SendMessageW(box, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
    for (int step = 0; step < 4 && asked > 0; ++step) {
        RECT closed;
        GetWindowRect(box, &closed);
        const int missing = height - static_cast<int>(closed.bottom - closed.top);
        if (missing == 0 || asked + missing <= 0)
            return;
        asked += missing;
        SendMessageW(box, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), asked);
    }
}

} // namespace

TControl::Impl* ControlOfWindow(HWND child) {
    return static_cast<TControl::Impl*>(GetPropW(child, ControlProperty));
}

TControl::Impl::~Impl() {
    if (window) {
        RemovePropW(window, ControlProperty);
        DestroyWindow(window);
    }
    if (ownFont)
        DeleteObject(ownFont);
    if (glyph)
        DestroyIcon(glyph);
    if (glyphList)
        ImageList_Destroy(glyphList);
    if (tip)
        DestroyWindow(tip);
}

// ---- TControl -------------------------------------------------------------------------------

TControl::TControl(TForm* owner) : owner_(owner), impl_(std::make_unique<Impl>()) {
    owner_->ControlCreated(this);
}

TControl::~TControl() {
    owner_->ControlDestroyed(this);
}

bool TControl::HandleAllocated() const {
    return impl_->window != nullptr;
}

void TControl::ApplyCommonProperties() {
    TForm::Impl& form = *owner_->Handle();
    HWND window = impl_->window;
    const int droppedHeight = height_ * (1 + impl_->dropDownRows);
    MoveWindow(window, form.Scale(left_), form.Scale(top_), form.Scale(width_), form.Scale(droppedHeight),
               TRUE);
    EnableWindow(window, enabled_);
    ShowWindow(window, visible_ ? SW_SHOWNA : SW_HIDE);
    SetStyleBit(window, WS_TABSTOP, tabOrder_ >= 0);
    if (impl_->ownFont)
        DeleteObject(impl_->ownFont);
    impl_->ownFont =
        fontFamily_.empty() ? nullptr : CreateFontForDpi(fontFamily_, fontPixelHeight_, form.dpi, true);
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(impl_->ownFont ? impl_->ownFont : form.Font()),
                 TRUE);
    if (impl_->dropDownRows > 0)
        FitClosedHeight(window, form.Scale(height_));
}

void TControl::SetBounds(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    if (HandleAllocated())
        ApplyCommonProperties();
}

void TControl::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (HandleAllocated())
        EnableWindow(impl_->window, enabled);
}

void TControl::SetVisible(bool visible) {
    visible_ = visible;
    if (HandleAllocated())
        ShowWindow(impl_->window, visible ? SW_SHOWNA : SW_HIDE);
}

void TControl::SetTabOrder(int order) {
    tabOrder_ = order;
    if (HandleAllocated()) {
        SetStyleBit(impl_->window, WS_TABSTOP, order >= 0);
        owner_->TabOrderChanged();
    }
}

// ---- TLabel ---------------------------------------------------------------------------------

// SS_NOTIFY lets the pointer reach the label, and with it the tip.
void TLabel::CreateWidget() {
    MakeWindow(this, Owner(), WC_STATICW, SS_LEFT | SS_NOTIFY | (elidedInMiddle_ ? SS_PATHELLIPSIS : 0),
               caption_);
    ShowLabelTip(*Handle(), caption_, elidedInMiddle_);
}

void TLabel::SetCaption(std::u16string_view caption) {
    caption_ = caption;
    if (!HandleAllocated())
        return;
    SetWindowTextW(WindowOf(this), ToWide(caption).c_str());
    ShowLabelTip(*Handle(), caption_, elidedInMiddle_);
}

void TLabel::SetElidedInMiddle(bool elided) {
    elidedInMiddle_ = elided;
    if (!HandleAllocated())
        return;
    SetStyleBit(WindowOf(this), SS_PATHELLIPSIS, elided);
    InvalidateRect(WindowOf(this), nullptr, TRUE);
    ShowLabelTip(*Handle(), caption_, elided);
}

// ---- TEdit ----------------------------------------------------------------------------------

void TEdit::CreateWidget() {
    HWND edit = MakeWindow(this, Owner(), WC_EDITW, ES_AUTOHSCROLL | (numbersOnly_ ? ES_NUMBER : 0), text_,
                           WS_EX_CLIENTEDGE);
    ShowPasswordChar(edit, passwordChar_);
    Handle()->onCommand = [this](WORD code) {
        if (code == EN_CHANGE)
            TextShown(WindowText(WindowOf(this)));
    };
}

void TEdit::SetText(std::u16string_view text) {
    text_ = text;
    if (HandleAllocated())
        SetWindowTextW(WindowOf(this), ToWide(text).c_str());
}

void TEdit::SetNumbersOnly(bool numbersOnly) {
    numbersOnly_ = numbersOnly;
    if (HandleAllocated())
        SetStyleBit(WindowOf(this), ES_NUMBER, numbersOnly);
}

void TEdit::SetPasswordChar(char16_t passwordChar) {
    passwordChar_ = passwordChar;
    if (HandleAllocated())
        ShowPasswordChar(WindowOf(this), passwordChar);
}

// ---- TBitBtn --------------------------------------------------------------------------------

void TBitBtn::CreateWidget() {
    MakeWindow(this, Owner(), WC_BUTTONW, default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, caption_);
    if (!glyph_.empty())
        ShowGlyph(*Handle(), glyph_);
    Handle()->onCommand = [this](WORD code) {
        if (code == BN_CLICKED)
            Click();
    };
}

void TBitBtn::SetCaption(std::u16string_view caption) {
    caption_ = caption;
    if (HandleAllocated())
        SetWindowTextW(WindowOf(this), ToWide(caption).c_str());
}

void TBitBtn::SetGlyph(const std::vector<uint32_t>& argbPixels) {
    glyph_ = argbPixels;
    if (HandleAllocated())
        ShowGlyph(*Handle(), glyph_);
}

void TBitBtn::SetDefault(bool isDefault) {
    default_ = isDefault;
    if (HandleAllocated())
        SendMessageW(WindowOf(this), BM_SETSTYLE, isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    Owner()->SetDefaultButton(isDefault ? this : nullptr);
}

// ---- TCheckBox ------------------------------------------------------------------------------

// The system's check box toggles on a click anywhere in its area, caption included.
void TCheckBox::CreateWidget() {
    HWND box = MakeWindow(this, Owner(), WC_BUTTONW, BS_AUTOCHECKBOX, caption_);
    SendMessageW(box, BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
    Handle()->onCommand = [this](WORD code) {
        if (code != BN_CLICKED)
            return;
        checked_ = SendMessageW(WindowOf(this), BM_GETCHECK, 0, 0) == BST_CHECKED;
        Click();
    };
}

void TCheckBox::SetCaption(std::u16string_view caption) {
    caption_ = caption;
    if (HandleAllocated())
        SetWindowTextW(WindowOf(this), ToWide(caption).c_str());
}

// BM_SETCHECK sends no notification: the shared code runs the click reaction itself.
void TCheckBox::ShowChecked() {
    if (HandleAllocated())
        SendMessageW(WindowOf(this), BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
}

// ---- TComboBox ------------------------------------------------------------------------------

// The system sizes the closed box by its font; the height it is given also holds the list that
// drops down, room for this many items below the box.
void TComboBox::CreateWidget() {
    MakeWindow(this, Owner(), WC_COMBOBOXW, CBS_DROPDOWNLIST | WS_VSCROLL, u"");
    Handle()->dropDownRows = 8;
    ShowItems();
    Handle()->onCommand = [this](WORD code) {
        if (code == CBN_SELCHANGE)
            Picked(static_cast<int>(SendMessageW(WindowOf(this), CB_GETCURSEL, 0, 0)));
    };
}

// CB_ADDSTRING and CB_SETCURSEL send no notification of a change.
void TComboBox::ShowItems() {
    if (!HandleAllocated())
        return;
    HWND box = WindowOf(this);
    SendMessageW(box, CB_RESETCONTENT, 0, 0);
    for (const std::u16string& item : items_)
        SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ToWide(item).c_str()));
    ShowItemIndex();
}

void TComboBox::ShowItemIndex() {
    if (HandleAllocated())
        SendMessageW(WindowOf(this), CB_SETCURSEL, static_cast<WPARAM>(itemIndex_), 0);
}
