// The smallest Qt 6 tray program that does what the resident program does while idle: a tray icon
// with a 16x16 image and a tip, a context menu, and a 60-second timer. It is the toolkit's floor in
// the idle benchmark and the program that proves the desktop test rig.
//
//   tray_floor [--tip TEXT] [--image 0|1] [--window CAPTION] [--trust-store 1] [--tls-port PORT]
//
// --trust-store 1 also builds an OpenSSL client context with the system's trust store (its hashed
// folder, read on demand), as a TLS checker must: the floor that no such program can go below.
// --tls-port then makes the first timer tick one verified TLS handshake with 127.0.0.1:PORT.
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
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Options {
    QString tip = QStringLiteral("Floor");
    int image = 0;
    QString windowCaption; // empty: no window
    bool trustStore = false;
    int tlsPort = 0; // none
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
        else if (args[i] == u"--tls-port")
            options.tlsPort = args[i + 1].toInt();
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

// One blocking, verified handshake, as a checker's: its outcome does not matter, its memory does.
void HandshakeOnce(SSL_CTX* tls, int port) {
    const int socketHandle = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socketHandle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        SSL* ssl = SSL_new(tls);
        SSL_set_fd(ssl, socketHandle);
        SSL_set1_host(ssl, "127.0.0.1");
        SSL_connect(ssl);
        SSL_free(ssl);
    }
    close(socketHandle);
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
        SSL_CTX_load_verify_dir(tls, X509_get_default_cert_dir());
        SSL_CTX_set_verify(tls, SSL_VERIFY_PEER, nullptr);
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

    QTimer timer; // ticks like the resident program's check timer, doing nothing after the first
    QObject::connect(&timer, &QTimer::timeout, [&, handshakes = 0]() mutable {
        if (tls && options.tlsPort != 0 && handshakes++ == 0)
            HandshakeOnce(tls, options.tlsPort);
    });
    timer.start(60000);

    if (!options.windowCaption.isEmpty())
        MakeWindow(options.windowCaption);
    const int result = app.exec();
    SSL_CTX_free(tls);
    return result;
}
