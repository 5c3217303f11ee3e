#include "shell/TrayIcon.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QThread>

#include "shell/ShellPrivate.h"
#include "transport/IdException.h"

namespace {

// A desktop session may start the program a moment before its panel.
constexpr int NotificationAreaWaitMs = 5000;
constexpr int NotificationAreaPollMs = 250;

// Platforms that draw nothing on a screen (the tests' offscreen platform) have no tray at all.
bool PlatformHasNoScreen() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

bool WaitForNotificationArea() {
    QElapsedTimer waited;
    waited.start();
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
            impl_->icon = std::make_unique<QSystemTrayIcon>();
            QObject::connect(impl_->icon.get(), &QSystemTrayIcon::activated,
                             [this](QSystemTrayIcon::ActivationReason reason) {
                                 if (reason == QSystemTrayIcon::DoubleClick)
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

void TTrayIcon::SetIcons(TImageList* icons) {
    icons_ = icons;
    ShowImage();
}

void TTrayIcon::SetImageIndex(int index) {
    if (index == imageIndex_)
        return;
    imageIndex_ = index;
    ++updateCount_;
    ShowImage();
}

void TTrayIcon::SetHint(std::u16string_view hint) {
    std::u16string cut(hint.substr(0, MaxHintLength));
    if (cut.size() == MaxHintLength && cut.back() >= 0xD800 && cut.back() <= 0xDBFF)
        cut.pop_back(); // never leave half of a surrogate pair
    if (cut == hint_)
        return;
    hint_ = std::move(cut);
    ++updateCount_;
    if (impl_->icon)
        impl_->icon->setToolTip(ToQString(hint_));
}

void TTrayIcon::SetPopupMenu(TPopupMenu* menu) {
    popupMenu_ = menu;
    if (impl_->icon)
        impl_->icon->setContextMenu(menu ? menu->Handle()->menu.get() : nullptr);
}

void TTrayIcon::DblClick() {
    if (onDblClick_)
        Application->Guarded([this] { onDblClick_(this); });
}

void TTrayIcon::ShowImage() {
    if (impl_->icon && icons_)
        impl_->icon->setIcon(icons_->Handle()->Icon(*icons_, imageIndex_));
}
