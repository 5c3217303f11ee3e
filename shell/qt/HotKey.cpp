#include "shell/HotKey.h"

#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QMetaObject>
#include <QtGui/qguiapplication_platform.h>
#include <map>
#include <string>
#include <vector>
#include <xcb/xcb.h>

#include "shell/Application.h"
#include "shell/Window.h"

// ---- Atoms ----------------------------------------------------------------------------------

namespace {

constexpr uint16_t FirstAtom = 0xC000;

struct AtomEntry {
    std::u16string name;
    int references = 0;
};

std::map<uint16_t, AtomEntry>& AtomTable() {
    static std::map<uint16_t, AtomEntry> table;
    return table;
}

} // namespace

uint16_t GlobalAddAtom(std::u16string_view name) {
    auto& table = AtomTable();
    for (auto& [atom, entry] : table) {
        if (entry.name == name) {
            ++entry.references;
            return atom;
        }
    }
    uint16_t atom = FirstAtom;
    while (table.contains(atom))
        ++atom;
    table[atom] = AtomEntry{std::u16string(name), 1};
    return atom;
}

void GlobalDeleteAtom(uint16_t atom) {
    auto& table = AtomTable();
    auto found = table.find(atom);
    if (found != table.end() && --found->second.references == 0)
        table.erase(found);
}

// ---- Key grabs on the X11 root window -------------------------------------------------------

namespace {

constexpr uint32_t XK_F1 = 0xFFBE;
constexpr uint16_t NumLockMask = XCB_MOD_MASK_2;
// The grab must match the modifier state exactly, so every CapsLock/NumLock combination is grabbed.
constexpr uint16_t LockVariants[] = {0, XCB_MOD_MASK_LOCK, NumLockMask, XCB_MOD_MASK_LOCK | NumLockMask};

struct HotKeyGrab {
    TForm* window = nullptr;
    xcb_keycode_t keycode = 0;
    uint16_t modifiers = 0;
};

struct X11Display {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
};

X11Display CurrentDisplay() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return {};
    const xcb_setup_t* setup = xcb_get_setup(x11->connection());
    return {x11->connection(), xcb_setup_roots_iterator(setup).data->root};
}

uint32_t KeySymOf(uint32_t virtualKey) {
    if (virtualKey >= 112 && virtualKey <= 123)
        return XK_F1 + (virtualKey - 112);
    if (virtualKey >= 'A' && virtualKey <= 'Z')
        return virtualKey - 'A' + 'a';
    if (virtualKey >= '0' && virtualKey <= '9')
        return virtualKey;
    return 0;
}

xcb_keycode_t KeycodeOf(xcb_connection_t* connection, uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto cookie = xcb_get_keyboard_mapping(connection, setup->min_keycode, count);
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(connection, cookie, nullptr);
    if (!reply)
        return 0;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply);
    const int perKeycode = reply->keysyms_per_keycode;
    xcb_keycode_t found = 0;
    for (int index = 0; index < count * perKeycode && found == 0; ++index) {
        if (keysyms[index] == keysym)
            found = static_cast<xcb_keycode_t>(setup->min_keycode + index / perKeycode);
    }
    free(reply);
    return found;
}

uint16_t X11Modifiers(uint32_t modifiers) {
    uint16_t mask = 0;
    if (modifiers & MOD_ALT)
        mask |= XCB_MOD_MASK_1;
    if (modifiers & MOD_CONTROL)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & MOD_SHIFT)
        mask |= XCB_MOD_MASK_SHIFT;
    return mask;
}

void Ungrab(const X11Display& display, const HotKeyGrab& grab) {
    for (uint16_t variant : LockVariants)
        xcb_ungrab_key(display.connection, grab.keycode, display.root, grab.modifiers | variant);
    xcb_flush(display.connection);
}

// Grabs every lock variant, or none: a key held by another client fails with BadAccess.
bool Grab(const X11Display& display, const HotKeyGrab& grab) {
    std::vector<xcb_void_cookie_t> cookies;
    for (uint16_t variant : LockVariants)
        cookies.push_back(xcb_grab_key_checked(display.connection, 1, display.root, grab.modifiers | variant,
                                               grab.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    bool allGranted = true;
    for (auto cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(display.connection, cookie)) {
            allGranted = false;
            free(error);
        }
    }
    if (!allGranted)
        Ungrab(display, grab);
    return allGranted;
}

// Turns key presses of the grabbed keys into hot-key messages for their windows.
class HotKeyFilter : public QAbstractNativeEventFilter {
public:
    std::map<int32_t, HotKeyGrab> grabs;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t")
            return false;
        auto* event = static_cast<xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7F) != XCB_KEY_PRESS)
            return false;
        auto* press = reinterpret_cast<xcb_key_press_event_t*>(event);
        const uint16_t modifiers = press->state & ~(XCB_MOD_MASK_LOCK | NumLockMask);
        for (const auto& [id, grab] : grabs) {
            if (grab.keycode == press->detail && grab.modifiers == modifiers) {
                Deliver(id);
                return true;
            }
        }
        return false;
    }

private:
    // Queued, so that a long handler never runs inside the platform's event processing.
    void Deliver(int32_t id) {
        QMetaObject::invokeMethod(
            qGuiApp,
            [this, id] {
                auto found = grabs.find(id);
                if (found != grabs.end())
                    found->second.window->DispatchHotKey(id);
            },
            Qt::QueuedConnection);
    }
};

HotKeyFilter& Filter() {
    static HotKeyFilter* filter = [] {
        auto* made = new HotKeyFilter; // lives as long as the process
        qGuiApp->installNativeEventFilter(made);
        return made;
    }();
    return *filter;
}

} // namespace

bool RegisterHotKey(TForm* window, int32_t id, uint32_t modifiers, uint32_t virtualKey) {
    const X11Display display = CurrentDisplay();
    if (!display.connection || Filter().grabs.contains(id))
        return false;
    const uint32_t keysym = KeySymOf(virtualKey);
    const xcb_keycode_t keycode = keysym ? KeycodeOf(display.connection, keysym) : 0;
    if (keycode == 0)
        return false;
    HotKeyGrab grab{window, keycode, X11Modifiers(modifiers)};
    if (!Grab(display, grab))
        return false;
    Filter().grabs[id] = grab;
    return true;
}

bool UnregisterHotKey(TForm* window, int32_t id) {
    const X11Display display = CurrentDisplay();
    if (!display.connection)
        return false;
    auto& grabs = Filter().grabs;
    auto found = grabs.find(id);
    if (found == grabs.end() || found->second.window != window)
        return false;
    Ungrab(display, found->second);
    grabs.erase(found);
    return true;
}
