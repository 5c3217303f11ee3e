#include "shell/Window.h"

#include <utility>

#include "shell/ImageList.h"
#include "shell/win32/Dpi.h"
#include "shell/win32/IconFromPixels.h"
#include "shell/win32/Win32Bridge.h"

namespace {

constexpr wchar_t FormClassName[] = L"BrevgluggenForm";
constexpr DWORD SizeableStyle = WS_OVERLAPPEDWINDOW;
constexpr DWORD SingleBorderStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

ATOM FormClass() {
    static const ATOM atom = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = TForm::Impl::Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = FormClassName;
        return RegisterClassExW(&windowClass);
    }();
    return atom;
}

// A top-down 32-bit picture to draw into, and the pixels it holds.
struct TDrawingSurface {
    TDrawingSurface(int width, int height) {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        dc = CreateCompatibleDC(nullptr);
        bitmap =
            CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        previous = SelectObject(dc, bitmap);
    }
    ~TDrawingSurface() {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ previous;
    uint32_t* bits = nullptr;
};

} // namespace

std::u16string WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return FromWide(text);
}

HFONT CreateFontForDpi(std::u16string_view family, int pixelHeight, int dpi, bool fixedPitch) {
    const std::wstring face = ToWide(family.substr(0, LF_FACESIZE - 1));
    return CreateFontW(-MulDiv(pixelHeight, dpi, 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       fixedPitch ? FIXED_PITCH | FF_MODERN : VARIABLE_PITCH | FF_SWISS, face.c_str());
}

TForm* FormOfWindow(HWND window) {
    if (!window || GetClassLongPtrW(window, GCW_ATOM) != FormClass())
        return nullptr;
    const auto* impl = reinterpret_cast<const TForm::Impl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return impl ? impl->form : nullptr;
}

// ---- TForm::Impl ----------------------------------------------------------------------------

TForm::Impl::Impl(TForm* owner) : form(owner) {
    window = CreateWindowExW(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, MAKEINTATOM(FormClass()), L"",
                             SizeableStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                             nullptr, nullptr, GetModuleHandleW(nullptr), this);
    dpi = WindowDpi(window);
}

TForm::Impl::~Impl() {
    if (window) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        DestroyWindow(window);
    }
    if (font)
        DeleteObject(font);
    for (HICON icon : {smallIcon, bigIcon})
        if (icon)
            DestroyIcon(icon);
}

HFONT TForm::Impl::Font() {
    if (!font)
        font = fontFamily.empty() ? static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT))
                                  : CreateFontForDpi(fontFamily, fontPixelHeight, dpi, false);
    return font;
}

void TForm::Impl::FitToClientSize() {
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    RECT frame{0, 0, Scale(clientWidth), Scale(clientHeight)};
    AdjustWindowRectEx(&frame, style, GetMenu(window) != nullptr, exStyle);
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // A menu bar that wraps onto a second row, or frame metrics that differ at this DPI: grow by
    // what the client area still lacks.
    RECT client;
    GetClientRect(window, &client);
    const int missingWidth = Scale(clientWidth) - client.right;
    const int missingHeight = Scale(clientHeight) - client.bottom;
    if (missingWidth != 0 || missingHeight != 0) {
        RECT now;
        GetWindowRect(window, &now);
        SetWindowPos(window, nullptr, 0, 0, now.right - now.left + missingWidth,
                     now.bottom - now.top + missingHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void TForm::Impl::CenterOnWorkArea() {
    MONITORINFO monitor{sizeof monitor, {}, {}, 0};
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
    RECT now;
    GetWindowRect(window, &now);
    const RECT& area = monitor.rcWork;
    const int left = area.left + (area.right - area.left - (now.right - now.left)) / 2;
    const int top = area.top + (area.bottom - area.top - (now.bottom - now.top)) / 2;
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::Impl::DpiChanged(int newDpi, const RECT& suggested) {
    dpi = newDpi;
    if (font && !fontFamily.empty())
        DeleteObject(font);
    font = nullptr;
    for (TControl* control : form->controls_)
        if (control->HandleAllocated())
            TControl::Impl::Refresh(control);
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    FitToClientSize();
}

void TForm::Impl::PaintOn(HDC dc) {
    TCanvas::Impl& canvas = *form->Canvas()->Handle();
    canvas.dc = dc;
    canvas.dpi = dpi;
    form->Paint();
    canvas.dc = nullptr;
}

// Enter presses the focused push button, and the default button from every other control.
LRESULT TForm::Impl::DefaultButtonId() const {
    HWND focus = GetFocus();
    if (focus && GetParent(focus) == window &&
        (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)))
        return MAKELRESULT(GetDlgCtrlID(focus), DC_HASDEFID);
    TBitBtn* button = form->defaultButton_;
    if (button && button->HandleAllocated())
        return MAKELRESULT(GetDlgCtrlID(button->Handle()->window), DC_HASDEFID);
    return 0;
}

LRESULT TForm::Impl::Message(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        PaintOn(dc);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_PRINTCLIENT: {
        RECT client;
        GetClientRect(window, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
        PaintOn(reinterpret_cast<HDC>(wParam));
        return 0;
    }
    case WM_COMMAND:
        if (lParam != 0) {
            TControl::Impl* control = ControlOfWindow(reinterpret_cast<HWND>(lParam));
            if (control && control->onCommand)
                control->onCommand(HIWORD(wParam));
        } else if (TMenuItem* item = MenuItemOfCommand(LOWORD(wParam))) {
            item->Click();
        }
        return 0;
    case DM_GETDEFID:
        return DefaultButtonId();
    case DM_SETDEFID:
        return TRUE; // the default button is the layout's; Enter on a push button is DefaultButtonId's rule
    case WM_HOTKEY:
        form->DispatchHotKey(static_cast<int32_t>(wParam));
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(window, focus))
                lastFocus = focus;
        } else {
            HWND target =
                lastFocus && IsWindow(lastFocus) ? lastFocus : GetNextDlgTabItem(window, nullptr, FALSE);
            if (target)
                SetFocus(target);
        }
        return 0;
    case WM_CLOSE:
        // Closing hides the window; closing the main window ends the application as well.
        ShowWindow(window, SW_HIDE);
        if (Application && Application->MainForm() == form)
            Application->Terminate();
        return 0;
    case WM_DPICHANGED:
        DpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK TForm::Impl::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* impl = static_cast<Impl*>(creation->lpCreateParams);
        impl->window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(impl));
    }
    auto* impl = reinterpret_cast<Impl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return impl ? impl->Message(message, wParam, lParam) : DefWindowProcW(window, message, wParam, lParam);
}

// ---- TForm ----------------------------------------------------------------------------------

TForm::TForm() : impl_(std::make_unique<Impl>(this)), canvas_(std::make_unique<TCanvas>()) {
    if (Application)
        Application->FormCreated(this);
}

TForm::~TForm() {
    if (Application)
        Application->FormDestroyed(this);
}

std::u16string TForm::Caption() const {
    return WindowText(impl_->window);
}

void TForm::SetCaption(std::u16string_view caption) {
    SetWindowTextW(impl_->window, ToWide(caption).c_str());
}

// The small icon (title bar) and the large one (task switcher).
void TForm::SetIcon(const TImageList& images, int index) {
    for (auto [which, metric] : {std::pair{ICON_SMALL, SM_CXSMICON}, std::pair{ICON_BIG, SM_CXICON}}) {
        HICON icon = IconOfSize(images, index, GetSystemMetrics(metric));
        SendMessageW(impl_->window, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
        HICON& kept = which == ICON_SMALL ? impl_->smallIcon : impl_->bigIcon;
        if (kept)
            DestroyIcon(kept);
        kept = icon;
    }
}

void TForm::SetClientSize(int width, int height) {
    impl_->clientWidth = width;
    impl_->clientHeight = height;
    impl_->FitToClientSize();
}

int TForm::ClientWidth() const {
    return impl_->clientWidth;
}

int TForm::ClientHeight() const {
    return impl_->clientHeight;
}

void TForm::SetBorderStyle(TFormBorderStyle style) {
    SetWindowLongPtrW(impl_->window, GWL_STYLE, style == bsSingle ? SingleBorderStyle : SizeableStyle);
    SetWindowPos(impl_->window, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    impl_->FitToClientSize();
}

void TForm::SetFont(std::u16string_view family, int pixelHeight) {
    impl_->fontFamily = family;
    impl_->fontPixelHeight = pixelHeight;
    if (impl_->font)
        DeleteObject(impl_->font);
    impl_->font = nullptr;
}

TColor TForm::Color() const {
    return GetSysColor(COLOR_BTNFACE); // the same red + green * 256 + blue * 65536
}

bool TForm::Visible() const {
    return IsWindowVisible(impl_->window);
}

void TForm::Show() {
    CreateHandles();
    impl_->FitToClientSize();
    if (centered_ && !Visible())
        impl_->CenterOnWorkArea();
    ShowWindow(impl_->window, SW_SHOW);
    SetForegroundWindow(impl_->window);
}

void TForm::Hide() {
    ShowWindow(impl_->window, SW_HIDE);
}

void TForm::Close() {
    SendMessageW(impl_->window, WM_CLOSE, 0, 0);
}

TWindowState TForm::WindowState() const {
    return IsIconic(impl_->window) ? wsMinimized : wsNormal;
}

void TForm::SetWindowState(TWindowState state) {
    ShowWindow(impl_->window, state == wsMinimized ? SW_MINIMIZE : SW_RESTORE);
}

// The client area is printed into a picture: the window's own painting, then each control at
// its place. Hidden windows print as well.
TPixelImage TForm::ClientImage() {
    CreateHandles();
    impl_->FitToClientSize();
    RECT client;
    GetClientRect(impl_->window, &client);
    TDrawingSurface surface(client.right, client.bottom);
    SendMessageW(impl_->window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(surface.dc),
                 PRF_CLIENT | PRF_ERASEBKGND);
    for (TControl* control : controls_) {
        if (!control->HandleAllocated())
            continue;
        HWND child = control->Handle()->window;
        RECT place;
        GetWindowRect(child, &place);
        MapWindowPoints(nullptr, impl_->window, reinterpret_cast<POINT*>(&place), 2);
        POINT origin;
        SetViewportOrgEx(surface.dc, place.left, place.top, &origin);
        SendMessageW(child, WM_PRINT, reinterpret_cast<WPARAM>(surface.dc),
                     PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND | PRF_CHILDREN);
        SetViewportOrgEx(surface.dc, origin.x, origin.y, nullptr);
    }
    GdiFlush();
    TPixelImage image{client.right, client.bottom, {}};
    image.Pixels.assign(surface.bits, surface.bits + static_cast<size_t>(client.right) * client.bottom);
    for (uint32_t& pixel : image.Pixels)
        pixel |= 0xFF000000;
    return image;
}

// Tab follows the controls' stacking order: the chain goes to the top, in its order.
void TForm::TabOrderChanged() {
    HWND previous = HWND_TOP;
    for (TControl* control : TabChain()) {
        HWND window = control->Handle()->window;
        SetWindowPos(window, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        previous = window;
    }
}

// ---- TCanvas --------------------------------------------------------------------------------

TCanvas::TCanvas() : impl_(std::make_unique<Impl>()) {}
TCanvas::~TCanvas() = default;

// The system's own line leaves out its end point.
void TCanvas::LineTo(int x, int y) {
    if (HDC dc = impl_->dc) {
        auto scale = [this](int value) { return MulDiv(value, impl_->dpi, 96); };
        HPEN pen = CreatePen(PS_SOLID, scale(1), penColor_);
        HGDIOBJ previous = SelectObject(dc, pen);
        MoveToEx(dc, scale(penX_), scale(penY_), nullptr);
        ::LineTo(dc, scale(x), scale(y));
        SelectObject(dc, previous);
        DeleteObject(pen);
    }
    MoveTo(x, y);
}
