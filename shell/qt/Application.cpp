#include "shell/Application.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "base/Exceptions.h"
#include "shell/qt/QtBridge.h"

namespace {

constexpr int SessionEndSignals[] = {SIGTERM, SIGINT, SIGHUP};
int signalPipe[2] = {-1, -1};

// Runs between any two instructions of the interrupted code, which may be about to read errno.
void OnSessionEndSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

// The end of the desktop session (or a kill) arrives as a signal; it ends the message loop in
// the ordinary way, so that the window is destroyed and its settings stored. A second signal
// during the shut-down ends the process at once.
std::unique_ptr<QSocketNotifier> EndLoopOnSessionEndSignals() {
    // Not handed down to the programs we start; and a burst of signals that fills the pipe
    // must not block the handler.
    if (signalPipe[0] < 0 && pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [] {
        char byte;
        [[maybe_unused]] const ssize_t read = ::read(signalPipe[0], &byte, 1);
        for (int signal : SessionEndSignals)
            std::signal(signal, SIG_DFL);
        if (Application)
            Application->Terminate();
    });
    for (int signal : SessionEndSignals)
        std::signal(signal, OnSessionEndSignal);
    return notifier;
}

} // namespace

// Hands the toolkit's report of changed regional settings to the application object.
class LocaleChangeWatcher : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::LocaleChange && watched == QCoreApplication::instance() && Application)
            Application->LocaleChanged();
        return false;
    }
};

struct TApplication::Impl {
    std::unique_ptr<QApplication> qt;
    LocaleChangeWatcher localeWatcher;
};

TApplication::TApplication(int& argc, char** argv) : impl_(std::make_unique<Impl>()) {
    impl_->qt = std::make_unique<QApplication>(argc, argv);
    // The program lives in the tray: closing an error box or hiding the window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    impl_->qt->installEventFilter(&impl_->localeWatcher);
    Application = this;
}

TApplication::~TApplication() {
    while (!forms_.empty())
        forms_.pop_back();
    impl_->qt.reset();
    Application = nullptr;
}

void TApplication::RunMessageLoop() {
    const auto sessionEnd = EndLoopOnSessionEndSignals();
    QApplication::exec();
    for (int signal : SessionEndSignals)
        std::signal(signal, SIG_DFL);
}

void TApplication::Terminate() {
    terminated_ = true;
    QApplication::quit();
}

void TApplication::ProcessMessages() {
    QApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::BringToFront() {
    if (!mainForm_)
        return;
    QWidget* window = mainForm_->Handle()->window.get();
    window->raise();
    window->activateWindow();
}

void TApplication::ShowException(const Exception& error) {
    QMessageBox::critical(nullptr, ToQString(title_), ToQString(ErrorBoxText(error.Message())));
}
