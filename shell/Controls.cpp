// The parts of the controls that every desktop back-end shares: when a widget is made, and how
// clicks and ticks reach the event handlers.

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
