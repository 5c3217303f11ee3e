#pragma once
// The program's notice through the session's notification service
// (org.freedesktop.Notifications on the session bus). One notice at a time: a newer one takes
// the place of the one still shown (replaces_id). The click comes back as the "default"
// action, which the service signals only to the connection that sent the notice, so the
// session bus's shared connection is kept and listened on.

#include <QImage>
#include <QObject>
#include <QString>
#include <functional>

class DesktopNotifications : public QObject {
    Q_OBJECT

public:
    explicit DesktopNotifications(std::function<void()> onClick);

    // Sends the notice without waiting for the service: where none answers, nothing happens.
    // The body is escaped for the service's markup. The icon is the theme's by the program's
    // name; where the theme has none (a program run from its build folder), `icon`'s pixels go
    // along (the "image-data" hint).
    void Show(const QString& appName, const QString& summary, const QString& body, const QImage& icon);

private slots:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    std::function<void()> onClick_;
    uint shownId_ = 0; // the service's id of the notice on screen, 0 when none
    bool listening_ = false;
};
