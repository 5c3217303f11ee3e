#include "shell/TrayIcon.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QElapsedTimer>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QThread>
#include <xcb/xcb.h>

#include "base/Exceptions.h"
#include "shell/qt/DesktopNotifications.h"
#include "shell/qt/QtBridge.h"

namespace {

// A desktop session may start the program a moment before its panel.
constexpr int NotificationAreaWaitMs = 5000;
constexpr int NotificationAreaPollMs = 250;

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
// tray; so it is asked only after one of them has appeared, or after the wait has run out.
bool WaitForNotificationArea() {
    QElapsedTimer waited;
    waited.start();
    while (!StatusNotifierHostPresent() && !XEmbedTrayPresent() &&
           waited.elapsed() < NotificationAreaWaitMs) {
        QApplication::processEvents();
        QThread::msleep(NotificationAreaPollMs);
    }
    while (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (waited.elapsed() >= NotificationAreaWaitMs)
            return false;
        QApplication::processEvents();
        QThread::msleep(NotificationAreaPollMs);
    }
    return true;
}

} // namespace

struct TTrayIcon::Impl {
    std::unique_ptr<QSystemTrayIcon> icon; // none on a platform without a screen
    // A StatusNotifierItem panel knows no double click: its one activation (a click on the icon)
    // is what stands for it there.
    bool singleActivationOpens = false;
    std::unique_ptr<DesktopNotifications> notifications; // made at the first notice
};

TTrayIcon::TTrayIcon() : impl_(std::make_unique<Impl>()) {
    if (Application)
        hint_ = Application->Title();
}

TTrayIcon::~TTrayIcon() {
    if (impl_->icon)
        impl_->icon->hide();
}

void TTrayIcon::SetVisible(bool visible) {
    if (visible == visible_)
        return;
    if (!visible) {
        if (impl_->icon)
            impl_->icon->hide();
        visible_ = false;
        return;
    }
    if (!PlatformHasNoScreen()) {
        if (!WaitForNotificationArea())
            throw Exception(std::string_view("Cannot create shell notification icon"));
        if (!impl_->icon) {
            impl_->singleActivationOpens = StatusNotifierHostPresent();
            impl_->icon = std::make_unique<QSystemTrayIcon>();
            QObject::connect(impl_->icon.get(), &QSystemTrayIcon::activated,
                             [this](QSystemTrayIcon::ActivationReason reason) {
                                 if (reason == QSystemTrayIcon::DoubleClick ||
                                     (reason == QSystemTrayIcon::Trigger && impl_->singleActivationOpens))
                                     DblClick();
                             });
        }
        impl_->icon->setToolTip(ToQString(hint_));
        if (popupMenu_)
            impl_->icon->setContextMenu(popupMenu_->Handle()->menu.get());
        ShowImage();
        impl_->icon->show();
    }
    visible_ = true;
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
