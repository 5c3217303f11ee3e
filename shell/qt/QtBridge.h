#pragma once
// Shared by the shell's own sources only: the Qt objects behind the shell's classes.

#include <QAction>
#include <QIcon>
#include <QImage>
#include <QMainWindow>
#include <QMenu>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "shell/Application.h"
#include "shell/Controls.h"
#include "shell/ImageList.h"
#include "shell/Menus.h"
#include "shell/Window.h"

class QPainter;

QString ToQString(std::u16string_view text);
std::u16string FromQString(const QString& text);

// The top-level window of a TForm; reports closing to the form, and Enter that no control took
// (an edit box, a check box) as a press of the default button.
class TFormWindow : public QMainWindow {
public:
    std::function<void()> onClose;
    std::function<void()> onEnter;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

// The client area of a TForm: the parent of its controls and the surface of its canvas.
class TFormClientArea : public QWidget {
public:
    std::function<void(QPainter&)> onPaint;

protected:
    void paintEvent(QPaintEvent* event) override;
};

struct TForm::Impl {
    std::unique_ptr<TFormWindow> window;
    TFormClientArea* client = nullptr; // owned by window
};

struct TControl::Impl {
    std::unique_ptr<QWidget> widget;
};

struct TCanvas::Impl {
    QPainter* painter = nullptr; // set only while the window paints
};

struct TMenuItem::Impl {
    std::unique_ptr<QAction> action = std::make_unique<QAction>();
    std::unique_ptr<QMenu> subMenu; // made when the first sub-item is added
};

struct TPopupMenu::Impl {
    std::unique_ptr<QMenu> menu = std::make_unique<QMenu>();
};

struct TImageList::Impl {
    // The image in every size of ScaleFactors.
    QIcon Icon(const TImageList& list, int index) const;
    // The image at one size, a copy of its own.
    static QImage Image(const TImageList& list, int index, int factor);
};
