// The smallest Qt 6 tray program that does what the resident program does while idle: a tray icon
// with a 16x16 image and a tip, a context menu, and a 60-second timer. It is the toolkit's floor in
// the idle benchmark and the program that proves the desktop test rig.
//
//   tray_floor [--tip TEXT] [--image 0|1] [--window CAPTION] [--trust-store 1]
//
// --trust-store 1 also builds an OpenSSL client context with the system's trust store loaded, as
// a TLS checker must: the floor that no such program can go below.
// --window also shows a main window with File -> Quit (Ctrl+Q); closing it ends the program.
// A double click on the icon prints "double-click" to standard output.

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>
#include <openssl/ssl.h>

namespace {

struct Options {
    QString tip = QStringLiteral("Floor");
    int image = 0;
    QString windowCaption; // empty: no window
    bool trustStore = false;
};

Options ParseOptions(const QStringList& args) {
    Options options;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--tip")
            options.tip = args[i + 1];
        else if (args[i] == u"--image")
            options.image = args[i + 1].toInt();
        else if (args[i] == u"--window")
            options.windowCaption = args[i + 1];
        else if (args[i] == u"--trust-store")
            options.trustStore = args[i + 1] == u"1";
    }
    return options;
}

// A mail slot across the middle of the square; with a letter, a white sheet with three text lines
// slides out of it downwards.
QIcon SlotIcon(bool withLetter) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    if (withLetter) {
        painter.fillRect(4, 8, 8, 8, Qt::white);
        painter.setPen(Qt::black);
        for (int y : {10, 12, 14})
            painter.drawLine(5, y, 10, y);
    }
    painter.fillRect(0, 5, 16, 5, Qt::black);
    painter.fillRect(1, 6, 14, 3, QColor(192, 192, 192));
    painter.setPen(Qt::white);
    painter.drawLine(1, 6, 14, 6);
    painter.setPen(QColor(96, 96, 96));
    painter.drawLine(1, 8, 14, 8);
    painter.end();
    return QIcon(QPixmap::fromImage(image));
}

QMainWindow* MakeWindow(const QString& caption) {
    auto* window = new QMainWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(caption);
    QMenu* file = window->menuBar()->addMenu(QStringLiteral("&File"));
    QAction* quit = file->addAction(QStringLiteral("&Quit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QObject::connect(quit, &QAction::triggered, window, &QWidget::close);
    window->resize(320, 200);
    window->show();
    return window;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const Options options = ParseOptions(app.arguments());
    SSL_CTX* tls = nullptr;
    if (options.trustStore) {
        tls = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_default_verify_paths(tls);
    }
    app.setQuitOnLastWindowClosed(!options.windowCaption.isEmpty());

    QMenu menu;
    QObject::connect(menu.addAction(QStringLiteral("&Quit")), &QAction::triggered, &app, &QApplication::quit);

    QSystemTrayIcon tray(SlotIcon(options.image == 1));
    tray.setToolTip(options.tip);
    tray.setContextMenu(&menu);
    QObject::connect(&tray, &QSystemTrayIcon::activated, [](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick) {
            std::puts("double-click");
            std::fflush(stdout);
        }
    });
    tray.show();

    QTimer timer; // ticks like the resident program's check timer, doing nothing
    timer.start(60000);

    if (!options.windowCaption.isEmpty())
        MakeWindow(options.windowCaption);
    const int result = app.exec();
    SSL_CTX_free(tls);
    return result;
}
