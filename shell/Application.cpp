// The parts of the application object that every desktop back-end shares: the error guard around
// event handlers, the default error report's text, and the bookkeeping of forms.

#include "shell/Application.h"

#include "base/Exceptions.h"

TApplication* Application = nullptr;

void TApplication::Initialize() {}

void TApplication::Run() {
    if (terminated_)
        return;
    if (showMainForm_ && mainForm_)
        mainForm_->Show();
    RunMessageLoop();
}

void TApplication::Guarded(const std::function<void()>& handler) noexcept {
    try {
        handler();
    } catch (...) {
        HandleException();
    }
}

void TApplication::HandleException() noexcept {
    try {
        try {
            throw;
        } catch (const Exception& error) {
            if (onException_)
                onException_(error);
            else
                ShowException(error);
        } catch (const std::exception& error) {
            Exception converted(Utf8ToText(error.what()));
            if (onException_)
                onException_(converted);
            else
                ShowException(converted);
        }
    } catch (...) {
        // An error inside the report itself, or an exception of no known kind: nothing more
        // can be shown, and nothing may reach the event loop.
    }
}

void TApplication::LocaleChanged() {
    if (onLocaleChange_)
        Guarded(onLocaleChange_);
}

std::u16string TApplication::ErrorBoxText(std::u16string_view message) {
    std::u16string text(message);
    if (!text.empty() && text.back() > u'.')
        text += u'.';
    return text;
}

void TApplication::FormCreated(TForm* form) {
    if (!mainForm_)
        mainForm_ = form;
}

void TApplication::FormDestroyed(TForm* form) {
    if (mainForm_ == form)
        mainForm_ = nullptr;
}
