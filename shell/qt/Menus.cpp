#include "shell/Menus.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "shell/qt/QtBridge.h"

namespace {

// Virtual-key codes of the shortcuts in the low byte: letters and digits are their ASCII
// codes, F1 to F12 are 112 to 123.
QKeySequence KeySequenceOf(uint16_t shortCut) {
    const int virtualKey = shortCut & 0xFF;
    int key = 0;
    if ((virtualKey >= 'A' && virtualKey <= 'Z') || (virtualKey >= '0' && virtualKey <= '9'))
        key = virtualKey; // Qt::Key_A... and Qt::Key_0... share the ASCII codes
    else if (virtualKey >= 112 && virtualKey <= 123)
        key = Qt::Key_F1 + (virtualKey - 112);
    if (key == 0)
        return {};
    int modifiers = 0;
    if (shortCut & scShift)
        modifiers |= Qt::SHIFT;
    if (shortCut & scCtrl)
        modifiers |= Qt::CTRL;
    if (shortCut & scAlt)
        modifiers |= Qt::ALT;
    return QKeySequence(key | modifiers);
}

} // namespace

TMenuItem::TMenuItem() : impl_(std::make_unique<Impl>()) {
    QObject::connect(impl_->action.get(), &QAction::triggered, [this] { Click(); });
}

TMenuItem::~TMenuItem() = default;

std::u16string TMenuItem::Caption() const {
    return FromQString(impl_->action->text());
}

void TMenuItem::SetCaption(std::u16string_view caption) {
    impl_->action->setText(ToQString(caption));
    if (impl_->subMenu)
        impl_->subMenu->setTitle(ToQString(caption));
}

void TMenuItem::SetShortCut(uint16_t shortCut) {
    shortCut_ = shortCut;
    impl_->action->setShortcut(KeySequenceOf(shortCut));
}

void TMenuItem::Add(TMenuItem* item) {
    if (!impl_->subMenu) {
        impl_->subMenu = std::make_unique<QMenu>(impl_->action->text());
        impl_->action->setMenu(impl_->subMenu.get());
    }
    impl_->subMenu->addAction(item->Handle()->action.get());
}

void TMainMenu::Add(TMenuItem* item) {
    owner_->Handle()->window->menuBar()->addAction(item->Handle()->action.get());
}

TPopupMenu::TPopupMenu() : impl_(std::make_unique<Impl>()) {}
TPopupMenu::~TPopupMenu() = default;

void TPopupMenu::Add(TMenuItem* item) {
    impl_->menu->addAction(item->Handle()->action.get());
}
