#include "shell/TrayIcon.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <xcb/xcb.h>

#include "shell/qt/DesktopNotifications.h"
#include "shell/qt/QtBridge.h"

namespace {

// How often the program looks for a tray host while it has none.
constexpr int TrayHostPollMs = 1000;
// A watcher that does not answer is taken for none until the next look.
constexpr int WatcherCallTimeoutMs = 500;

// Platforms that draw nothing on a screen (the tests' offscreen platform) have no tray at all.
bool PlatformHasNoScreen() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

// A StatusNotifierItem host is registered on the session bus.
bool StatusNotifierHostPresent() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(watcher))
        return false;
    QDBusInterface properties(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, bus);
    properties.setTimeout(WatcherCallTimeoutMs);
    return properties.property("IsStatusNotifierHostRegistered").toBool();
}

// Some window owns the XEmbed system-tray selection of the first screen.
bool XEmbedTrayPresent() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t* connection = x11->connection();
    const char name[] = "_NET_SYSTEM_TRAY_S0";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    if (!atom)
        return false;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
    const bool present = owner && owner->owner != XCB_NONE;
    free(owner);
    free(atom);
    return present;
}

// The toolkit decides between the D-Bus tray and the XEmbed tray once, at its first look at the
// tray; so it is asked only after one of them has appeared.
bool TrayHostPresent() {
    return (StatusNotifierHostPresent() || XEmbedTrayPresent()) && QSystemTrayIcon::isSystemTrayAvailable();
}

} // namespace

struct TTrayIcon::Impl {
    std::unique_ptr<QSystemTrayIcon> icon; // none until a tray host is there, or without a screen
    // A StatusNotifierItem panel knows no double click: its one activation (a click on the icon)
    // is what stands for it there.
    bool singleActivationOpens = false;
    // Looks for a tray host while the icon should be shown and none was there yet.
    QTimer hostPoll;
    std::unique_ptr<DesktopNotifications> notifications; // made at the first notice

    // Puts the owner's icon, image, tip and menu into the tray.
    void ShowInTray(TTrayIcon& owner);
};

TTrayIcon::TTrayIcon() : impl_(std::make_unique<Impl>()) {
    if (Application)
        hint_ = Application->Title();
    impl_->hostPoll.setInterval(TrayHostPollMs);
    QObject::connect(&impl_->hostPoll, &QTimer::timeout, [this] {
        if (TrayHostPresent()) {
            impl_->hostPoll.stop();
            impl_->ShowInTray(*this);
        }
    });
}

TTrayIcon::~TTrayIcon() {
    if (impl_->icon)
        impl_->icon->hide();
}

// Without a tray host (a panel that starts after the program, or a desktop without any) the
// program goes on without its icon, and shows it as soon as a host appears.
void TTrayIcon::SetVisible(bool visible) {
    if (visible == visible_)
        return;
    visible_ = visible;
    if (!visible) {
        impl_->hostPoll.stop();
        if (impl_->icon)
            impl_->icon->hide();
    } else if (!PlatformHasNoScreen()) {
        if (impl_->icon || TrayHostPresent())
            impl_->ShowInTray(*this);
        else
            impl_->hostPoll.start();
    }
}

void TTrayIcon::Impl::ShowInTray(TTrayIcon& owner) {
    if (!icon) {
        singleActivationOpens = StatusNotifierHostPresent();
        icon = std::make_unique<QSystemTrayIcon>();
        QObject::connect(icon.get(), &QSystemTrayIcon::activated,
                         [this, &owner](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::DoubleClick ||
                                 (reason == QSystemTrayIcon::Trigger && singleActivationOpens))
                                 owner.DblClick();
                         });
    }
    icon->setToolTip(ToQString(owner.hint_));
    if (owner.popupMenu_)
        icon->setContextMenu(owner.popupMenu_->Handle()->menu.get());
    owner.ShowImage();
    icon->show();
}

void TTrayIcon::SetPopupMenu(TPopupMenu* menu) {
    popupMenu_ = menu;
    if (impl_->icon)
        impl_->icon->setContextMenu(menu ? menu->Handle()->menu.get() : nullptr);
}

void TTrayIcon::ShowImage() {
    if (impl_->icon && icons_)
        impl_->icon->setIcon(icons_->Handle()->Icon(*icons_, imageIndex_));
}

void TTrayIcon::ShowHint() {
    if (impl_->icon)
        impl_->icon->setToolTip(ToQString(hint_));
}

// Where nothing is drawn on a screen (the tests' offscreen platform) no notice leaves the program.
void TTrayIcon::ShowNoticeOnDesktop() {
    if (PlatformHasNoScreen())
        return;
    if (!impl_->notifications)
        impl_->notifications = std::make_unique<DesktopNotifications>([this] { NoticeClick(); });
    const QString appName = Application ? ToQString(Application->Title()) : QStringLiteral("Brevgluggen");
    impl_->notifications->Show(appName, ToQString(noticeSummary_), ToQString(noticeBody_));
}
