#include "shell/Window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <algorithm>

#include "base/Exceptions.h"
#include "shell/Application.h"
#include "shell/ImageList.h"
#include "shell/qt/QtBridge.h"

QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

std::u16string FromQString(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

void TFormWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (onClose)
        onClose();
}

void TFormWindow::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && onEnter) {
        event->accept();
        onEnter();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TFormClientArea::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (onPaint)
        onPaint(painter);
}

// ---- TForm ---------------------------------------------------------------------------------------

TForm::TForm() : impl_(std::make_unique<Impl>()), canvas_(std::make_unique<TCanvas>()) {
    impl_->window = std::make_unique<TFormWindow>();
    impl_->client = new TFormClientArea;
    impl_->window->setCentralWidget(impl_->client);
    impl_->window->onClose = [this] {
        if (Application && Application->MainForm() == this)
            Application->Terminate();
    };
    impl_->window->onEnter = [this] { PressDefaultButton(); };
    impl_->client->onPaint = [this](QPainter& painter) {
        canvas_->Handle()->painter = &painter;
        Paint();
        canvas_->Handle()->painter = nullptr;
    };
    if (Application)
        Application->FormCreated(this);
}

TForm::~TForm() {
    if (Application)
        Application->FormDestroyed(this);
}

std::u16string TForm::Caption() const {
    return FromQString(impl_->window->windowTitle());
}
void TForm::SetCaption(std::u16string_view caption) {
    impl_->window->setWindowTitle(ToQString(caption));
}

void TForm::SetIcon(const TImageList& images, int index) {
    impl_->window->setWindowIcon(images.Handle()->Icon(images, index));
}

void TForm::SetClientSize(int width, int height) {
    impl_->client->setFixedSize(width, height);
}
int TForm::ClientWidth() const {
    return impl_->client->width();
}
int TForm::ClientHeight() const {
    return impl_->client->height();
}

void TForm::SetBorderStyle(TFormBorderStyle style) {
    QMainWindow* window = impl_->window.get();
    if (style == bsSingle) {
        window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowCloseButtonHint);
        window->layout()->setSizeConstraint(QLayout::SetFixedSize);
    } else {
        window->setWindowFlags(Qt::Window);
        window->layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
    }
}

void TForm::SetFont(std::u16string_view family, int pixelHeight) {
    QFont font(ToQString(family));
    font.setPixelSize(pixelHeight);
    impl_->window->setFont(font);
}

TColor TForm::Color() const {
    const QColor color = impl_->client->palette().color(QPalette::Window);
    return RGBColor(color.red(), color.green(), color.blue());
}

bool TForm::Visible() const {
    return impl_->window->isVisible();
}

void TForm::Show() {
    CreateHandles();
    QMainWindow* window = impl_->window.get();
    if (centered_ && !window->isVisible()) {
        window->adjustSize();
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            window->move(frame.topLeft());
        }
    }
    window->show();
}

void TForm::Hide() {
    impl_->window->hide();
}
void TForm::Close() {
    impl_->window->close();
}

TWindowState TForm::WindowState() const {
    return (impl_->window->windowState() & Qt::WindowMinimized) ? wsMinimized : wsNormal;
}

void TForm::SetWindowState(TWindowState state) {
    Qt::WindowStates states = impl_->window->windowState();
    if (state == wsMinimized)
        states |= Qt::WindowMinimized;
    else
        states &= ~Qt::WindowMinimized;
    impl_->window->setWindowState(states);
}

TPixelImage TForm::ClientImage() {
    CreateHandles();
    QWidget* client = impl_->client;
    QImage image(client->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    client->render(&image);
    TPixelImage pixels{image.width(), image.height(), {}};
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
        pixels.Pixels.insert(pixels.Pixels.end(), row, row + image.width());
    }
    return pixels;
}

// Chains the controls that take part in tabbing by their TabOrder.
void TForm::TabOrderChanged() {
    const std::vector<TControl*> chain = TabChain();
    for (size_t i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1]->Handle()->widget.get(), chain[i]->Handle()->widget.get());
}

// ---- TCanvas --------------------------------------------------------------------------------

TCanvas::TCanvas() : impl_(std::make_unique<Impl>()) {}
TCanvas::~TCanvas() = default;

void TCanvas::LineTo(int x, int y) {
    if (QPainter* painter = impl_->painter) {
        painter->setPen(QPen(QColor(penColor_ & 0xFF, (penColor_ >> 8) & 0xFF, (penColor_ >> 16) & 0xFF), 0));
        // The end point itself is left out, one step short along the longer axis.
        const int dx = x - penX_;
        const int dy = y - penY_;
        if (dx != 0 || dy != 0) {
            const bool alongX = std::abs(dx) >= std::abs(dy);
            const int endX = alongX ? x - (dx > 0 ? 1 : -1) : x;
            const int endY = alongX ? y : y - (dy > 0 ? 1 : -1);
            painter->drawLine(penX_, penY_, endX, endY);
        }
    }
    MoveTo(x, y);
}
