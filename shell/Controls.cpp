// The parts of the controls that every desktop back-end shares: when a widget is made, and how
// clicks, ticks and picks reach the event handlers.

#include "shell/Controls.h"

#include "shell/Application.h"

void TControl::HandleNeeded() {
    if (HandleAllocated())
        return;
    CreateWidget();
    ApplyCommonProperties();
}

void TControl::SetFont(std::u16string_view family, int pixelHeight) {
    fontFamily_ = family;
    fontPixelHeight_ = pixelHeight;
    if (HandleAllocated())
        ApplyCommonProperties();
}

void TEdit::TextShown(std::u16string text) {
    if (text == text_)
        return; // the program's own SetText, echoed by the widget
    text_ = std::move(text);
    if (onChange_)
        Application->Guarded([this] { onChange_(this); });
}

void TBitBtn::Click() {
    if (onClick_)
        Application->Guarded([this] { onClick_(this); });
}

void TCheckBox::SetChecked(bool checked) {
    if (checked == checked_)
        return;
    checked_ = checked;
    ShowChecked();
    Click();
}

void TCheckBox::Click() {
    if (onClick_)
        Application->Guarded([this] { onClick_(this); });
}

void TComboBox::SetItems(std::vector<std::u16string> items) {
    items_ = std::move(items);
    if (itemIndex_ >= static_cast<int>(items_.size()))
        itemIndex_ = -1;
    ShowItems();
}

void TComboBox::SetItemIndex(int index) {
    itemIndex_ = index >= 0 && index < static_cast<int>(items_.size()) ? index : -1;
    ShowItemIndex();
}

void TComboBox::Picked(int index) {
    if (index == itemIndex_)
        return;
    itemIndex_ = index;
    if (onChange_)
        Application->Guarded([this] { onChange_(this); });
}
