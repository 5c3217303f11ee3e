#include "shell/qt/DesktopNotifications.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QIcon>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// The icon of the program's menu entry and desktop file.
const QString kIconName = QStringLiteral("brevgluggen");

// A picture as the notification service takes it: "(iiibiiay)", rows of RGBA bytes.
struct NoticeImage {
    int width = 0;
    int height = 0;
    int rowStride = 0;
    bool hasAlpha = true;
    int bitsPerSample = 8;
    int channels = 4;
    QByteArray data;
};

} // namespace

Q_DECLARE_METATYPE(NoticeImage)

namespace {

QDBusArgument& operator<<(QDBusArgument& argument, const NoticeImage& image) {
    argument.beginStructure();
    argument << image.width << image.height << image.rowStride << image.hasAlpha << image.bitsPerSample
             << image.channels << image.data;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, NoticeImage& image) {
    argument.beginStructure();
    argument >> image.width >> image.height >> image.rowStride >> image.hasAlpha >> image.bitsPerSample >>
        image.channels >> image.data;
    argument.endStructure();
    return argument;
}

NoticeImage ImageData(const QImage& picture) {
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
    NoticeImage image;
    image.width = rgba.width();
    image.height = rgba.height();
    image.rowStride = static_cast<int>(rgba.bytesPerLine());
    image.data = QByteArray(reinterpret_cast<const char*>(rgba.constBits()), rgba.sizeInBytes());
    return image;
}

} // namespace

DesktopNotifications::DesktopNotifications(std::function<void()> onClick) : onClick_(std::move(onClick)) {}

void DesktopNotifications::Show(const QString& appName, const QString& summary, const QString& body,
                                const QImage& icon) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    if (!listening_) {
        // Any sender: the signals reach this connection only for its own notices.
        bus.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                    SLOT(ActionInvoked(uint, QString)));
        bus.connect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                    SLOT(NotificationClosed(uint, uint)));
        listening_ = true;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(uchar(1))},
                      {QStringLiteral("desktop-entry"), kIconName}};
    if (!icon.isNull() && !QIcon::hasThemeIcon(kIconName)) {
        qDBusRegisterMetaType<NoticeImage>();
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(ImageData(icon)));
    }
    call << appName << shownId_ << kIconName << summary << body.toHtmlEscaped()
         << QStringList{QStringLiteral("default"), summary} << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        const QDBusPendingReply<uint> reply = *finished;
        if (!reply.isError())
            shownId_ = reply.value();
        finished->deleteLater();
    });
}

void DesktopNotifications::ActionInvoked(uint id, const QString& action) {
    if (id == 0 || id != shownId_ || action != QLatin1String("default"))
        return;
    // The user has acted on it: it leaves the screen where the service keeps it.
    QDBusConnection::sessionBus().asyncCall(
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"))
        << id);
    if (onClick_)
        onClick_();
}

void DesktopNotifications::NotificationClosed(uint id, uint) {
    if (id == shownId_)
        shownId_ = 0;
}
