// The parts of a window that every desktop back-end shares: its controls, the default button,
// and the guarded dispatch of its events.

#include "shell/Window.h"

#include <algorithm>

#include "shell/Application.h"
#include "shell/Controls.h"

void TForm::DispatchHotKey(int32_t hotKeyId) {
    if (!onHotKey_)
        return;
    TWMHotKey message{hotKeyId};
    Application->Guarded([&] { onHotKey_(message); });
}

void TForm::PressDefaultButton() {
    if (defaultButton_ && defaultButton_->Enabled())
        defaultButton_->Click();
}

void TForm::ControlCreated(TControl* control) {
    controls_.push_back(control);
}

void TForm::ControlDestroyed(TControl* control) {
    std::erase(controls_, control);
}

void TForm::CreateHandles() {
    for (TControl* control : controls_)
        control->HandleNeeded();
    TabOrderChanged();
}

std::vector<TControl*> TForm::TabChain() const {
    std::vector<TControl*> chain;
    std::copy_if(controls_.begin(), controls_.end(), std::back_inserter(chain),
                 [](TControl* control) { return control->TabOrder() >= 0 && control->HandleAllocated(); });
    std::stable_sort(chain.begin(), chain.end(),
                     [](TControl* a, TControl* b) { return a->TabOrder() < b->TabOrder(); });
    return chain;
}

void TForm::DoCreate() {
    if (onCreate_)
        Application->Guarded([this] { onCreate_(this); });
}

void TForm::DoDestroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    if (onDestroy_)
        Application->Guarded([this] { onDestroy_(this); });
}

void TForm::Paint() {
    if (onPaint_)
        Application->Guarded([this] { onPaint_(this); });
}

void TCanvas::MoveTo(int x, int y) {
    penX_ = x;
    penY_ = y;
}
