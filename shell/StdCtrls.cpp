#include "shell/StdCtrls.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "shell/ShellPrivate.h"

namespace {

template <class Widget> std::unique_ptr<TControl::Impl> MakeImpl(TForm* owner) {
    auto impl = std::make_unique<TControl::Impl>();
    impl->widget = std::make_unique<Widget>(owner->Handle()->client);
    impl->widget->show(); // shown with the window
    return impl;
}

template <class Widget> Widget* WidgetOf(const TControl* control) {
    return static_cast<Widget*>(control->Handle()->widget.get());
}

} // namespace

// ---- TControl -------------------------------------------------------------------------------

TControl::TControl(TForm* owner, std::unique_ptr<Impl> impl) : owner_(owner), impl_(std::move(impl)) {
    impl_->widget->setFocusPolicy(Qt::NoFocus);
    owner_->ControlCreated(this);
}

TControl::~TControl() {
    owner_->ControlDestroyed(this);
}

void TControl::SetBounds(int left, int top, int width, int height) {
    impl_->widget->setGeometry(left, top, width, height);
}
int TControl::Left() const {
    return impl_->widget->x();
}
int TControl::Top() const {
    return impl_->widget->y();
}
int TControl::Width() const {
    return impl_->widget->width();
}
int TControl::Height() const {
    return impl_->widget->height();
}
bool TControl::Enabled() const {
    return impl_->widget->isEnabled();
}
void TControl::SetEnabled(bool enabled) {
    impl_->widget->setEnabled(enabled);
}

void TControl::SetTabOrder(int order) {
    tabOrder_ = order;
    impl_->widget->setFocusPolicy(order >= 0 ? Qt::StrongFocus : Qt::NoFocus);
    owner_->TabOrderChanged();
}

void TControl::SetFont(std::u16string_view family, int pixelHeight) {
    QFont font(ToQString(family));
    font.setStyleHint(QFont::TypeWriter); // the stand-in when the family is not installed
    font.setPixelSize(pixelHeight);
    impl_->widget->setFont(font);
}

// ---- TLabel ---------------------------------------------------------------------------------

TLabel::TLabel(TForm* owner) : TControl(owner, MakeImpl<QLabel>(owner)) {}
std::u16string TLabel::Caption() const {
    return FromQString(WidgetOf<QLabel>(this)->text());
}
void TLabel::SetCaption(std::u16string_view caption) {
    WidgetOf<QLabel>(this)->setText(ToQString(caption));
}

// ---- TEdit ----------------------------------------------------------------------------------

TEdit::TEdit(TForm* owner) : TControl(owner, MakeImpl<QLineEdit>(owner)) {
    QObject::connect(WidgetOf<QLineEdit>(this), &QLineEdit::returnPressed,
                     [owner] { owner->PressDefaultButton(); });
}

std::u16string TEdit::Text() const {
    return FromQString(WidgetOf<QLineEdit>(this)->text());
}
void TEdit::SetText(std::u16string_view text) {
    WidgetOf<QLineEdit>(this)->setText(ToQString(text));
}

void TEdit::SetNumbersOnly(bool numbersOnly) {
    QLineEdit* edit = WidgetOf<QLineEdit>(this);
    if (numbersOnly)
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    else
        edit->setValidator(nullptr);
}

void TEdit::SetPasswordChar(char16_t passwordChar) {
    WidgetOf<QLineEdit>(this)->setEchoMode(passwordChar ? QLineEdit::Password : QLineEdit::Normal);
}

// ---- TBitBtn --------------------------------------------------------------------------------

TBitBtn::TBitBtn(TForm* owner) : TControl(owner, MakeImpl<QPushButton>(owner)) {
    QObject::connect(WidgetOf<QPushButton>(this), &QPushButton::clicked, [this] { Click(); });
}

std::u16string TBitBtn::Caption() const {
    return FromQString(WidgetOf<QPushButton>(this)->text());
}
void TBitBtn::SetCaption(std::u16string_view caption) {
    WidgetOf<QPushButton>(this)->setText(ToQString(caption));
}

void TBitBtn::SetGlyph(const std::vector<uint32_t>& argbPixels) {
    QImage image(reinterpret_cast<const uchar*>(argbPixels.data()), 16, 16, QImage::Format_ARGB32);
    WidgetOf<QPushButton>(this)->setIcon(QIcon(QPixmap::fromImage(image.copy())));
}

void TBitBtn::SetDefault(bool isDefault) {
    WidgetOf<QPushButton>(this)->setDefault(isDefault);
    Owner()->SetDefaultButton(isDefault ? this : nullptr);
}

void TBitBtn::Click() {
    if (onClick_)
        Application->Guarded([this] { onClick_(this); });
}

// ---- TCheckBox ------------------------------------------------------------------------------

TCheckBox::TCheckBox(TForm* owner) : TControl(owner, MakeImpl<QCheckBox>(owner)) {
    QObject::connect(WidgetOf<QCheckBox>(this), &QCheckBox::toggled, [this] { Toggled(); });
}

std::u16string TCheckBox::Caption() const {
    return FromQString(WidgetOf<QCheckBox>(this)->text());
}
void TCheckBox::SetCaption(std::u16string_view caption) {
    WidgetOf<QCheckBox>(this)->setText(ToQString(caption));
}
bool TCheckBox::Checked() const {
    return WidgetOf<QCheckBox>(this)->isChecked();
}
void TCheckBox::SetChecked(bool checked) {
    WidgetOf<QCheckBox>(this)->setChecked(checked);
}

void TCheckBox::Toggled() {
    if (onClick_)
        Application->Guarded([this] { onClick_(this); });
}
