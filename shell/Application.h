#pragma once
// The one application object: title, message loop, main window and the default error report.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/Window.h"

class Exception;

// Constructing it makes it the global `Application`.
class TApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication(); // destroys the forms it created, newest first
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    void Initialize();

    // The title is also the caption of error boxes.
    const std::u16string& Title() const { return title_; }
    void SetTitle(std::u16string title) { title_ = std::move(title); }
    bool ShowMainForm() const { return showMainForm_; }
    void SetShowMainForm(bool show) { showMainForm_ = show; }
    // The task-bar button belongs to the main window and is there only while it is visible.
    bool MainFormOnTaskBar() const { return mainFormOnTaskBar_; }
    void SetMainFormOnTaskBar(bool onTaskBar) { mainFormOnTaskBar_ = onTaskBar; }

    // The first form created; closing it ends the application.
    TForm* MainForm() const { return mainForm_; }

    // Creates a form that the application owns and destroys at its end.
    template <class T> void CreateForm(T*& reference) {
        auto form = std::make_unique<T>();
        reference = form.get();
        forms_.push_back(std::move(form));
    }

    // Runs the message loop until Terminate.
    void Run();
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Lets the message loop handle every pending message, then returns.
    void ProcessMessages();
    void BringToFront();

    // Runs an event handler; an exception that escapes it goes to HandleException.
    void Guarded(const std::function<void()>& handler) noexcept;
    // Reports the exception being handled (call inside a catch block): the OnException
    // handler when one is set, otherwise an error box.
    void HandleException() noexcept;
    void ShowException(const Exception& error);
    void SetOnException(std::function<void(const Exception&)> handler) { onException_ = std::move(handler); }
    // Runs when the desktop reports a change of the user's regional settings.
    void SetOnLocaleChange(std::function<void()> handler) { onLocaleChange_ = std::move(handler); }
    void LocaleChanged();
    // The error text as the error box shows it: a full stop added after a last character above ".".
    static std::u16string ErrorBoxText(std::u16string_view message);

private:
    friend class TForm;
    // The back-end's message loop, until Terminate.
    void RunMessageLoop();
    void FormCreated(TForm* form);
    void FormDestroyed(TForm* form);

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::u16string title_;
    bool showMainForm_ = true;
    bool mainFormOnTaskBar_ = false;
    bool terminated_ = false;
    TForm* mainForm_ = nullptr;
    std::vector<std::unique_ptr<TForm>> forms_;
    std::function<void(const Exception&)> onException_;
    std::function<void()> onLocaleChange_;
};

extern TApplication* Application;
