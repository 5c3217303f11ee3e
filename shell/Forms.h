#pragma once
// The application object and the window class of the desktop shell.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/Canvas.h"
#include "shell/Events.h"

class Exception;
class TControl;
class TBitBtn;
class TForm;

enum TWindowState : uint8_t { wsNormal, wsMinimized };
enum TFormBorderStyle : uint8_t { bsSizeable, bsSingle };

// The message that announces a pressed global hot key; `HotKey` is its registered identifier.
struct TWMHotKey {
    int32_t HotKey = 0;
};

// The one application object: title, message loop, main window and the default error report.
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

// A top-level window with a client area of fixed-position controls. A derived window runs
// DoCreate at the end of its constructor and DoDestroy at the start of its destructor.
class TForm : public TObject {
public:
    TForm();
    ~TForm() override;
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    std::u16string Caption() const;
    void SetCaption(std::u16string_view caption);
    void SetClientSize(int width, int height);
    int ClientWidth() const;
    int ClientHeight() const;
    // bsSingle: fixed size, no maximize button.
    void SetBorderStyle(TFormBorderStyle style);
    // Centres the window on the screen each time it is shown.
    void SetCenteredOnScreen(bool centered) { centered_ = centered; }
    // The font of the window and of the controls that do not set their own.
    void SetFont(std::u16string_view family, int pixelHeight);
    // The background colour with system colours resolved.
    TColor Color() const;

    // True while the window is on screen, also when minimized.
    bool Visible() const;
    void Show();
    void Hide();
    // Closes the window; closing the main window ends the application.
    void Close();
    TWindowState WindowState() const;
    void SetWindowState(TWindowState state);

    TCanvas* Canvas() const { return canvas_.get(); }
    // The client area as it is drawn now, controls and paint event included, at one image
    // pixel per client pixel; works while the window is hidden too.
    TPixelImage ClientImage();

    void SetOnCreate(TNotifyEvent handler) { onCreate_ = std::move(handler); }
    void SetOnDestroy(TNotifyEvent handler) { onDestroy_ = std::move(handler); }
    void SetOnPaint(TNotifyEvent handler) { onPaint_ = std::move(handler); }
    void SetOnHotKey(std::function<void(TWMHotKey&)> handler) { onHotKey_ = std::move(handler); }

    // Hands a hot-key message to the window's handler, inside the error guard.
    void DispatchHotKey(int32_t hotKeyId);
    // Enter presses this button, unless a focused push button takes the key.
    void SetDefaultButton(TBitBtn* button) { defaultButton_ = button; }
    void PressDefaultButton();

    struct Impl;
    Impl* Handle() const { return impl_.get(); }

    // Called by the controls of this window.
    void ControlCreated(TControl* control);
    void ControlDestroyed(TControl* control);
    void TabOrderChanged();

protected:
    void DoCreate();
    void DoDestroy();

private:
    // Gives every control its widget; the window shows them from then on.
    void CreateHandles();
    void Paint();

    std::unique_ptr<Impl> impl_;
    std::unique_ptr<TCanvas> canvas_;
    std::vector<TControl*> controls_;
    TBitBtn* defaultButton_ = nullptr;
    bool centered_ = false;
    bool destroyed_ = false;
    TNotifyEvent onCreate_;
    TNotifyEvent onDestroy_;
    TNotifyEvent onPaint_;
    std::function<void(TWMHotKey&)> onHotKey_;
};
