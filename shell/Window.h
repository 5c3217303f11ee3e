#pragma once
// A top-level window of the desktop shell and the messages it receives.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/Canvas.h"
#include "shell/Events.h"

class TControl;
class TBitBtn;
class TForm;
class TImageList;

enum TWindowState : uint8_t { wsNormal, wsMinimized };
enum TFormBorderStyle : uint8_t { bsSizeable, bsSingle };

// The message that announces a pressed global hot key; `HotKey` is its registered identifier.
struct TWMHotKey {
    int32_t HotKey = 0;
};

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
    // The window's icon (title bar, task bar, window switcher): image `index` of the list, in
    // the sizes the list offers.
    void SetIcon(const TImageList& images, int index);

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
    // The application runs the destroy event early when the desktop session ends.
    friend class TApplication;

    // Gives every control its widget; the window shows them from then on.
    void CreateHandles();
    // The controls that take part in tabbing, in their TabOrder.
    std::vector<TControl*> TabChain() const;
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
