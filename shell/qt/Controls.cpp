#include "shell/Controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QResizeEvent>
#include <QSignalBlocker>

#include "shell/qt/QtBridge.h"

namespace {

// The widget of a control, or null while it has none.
template <class Widget> Widget* WidgetOf(const TControl* control) {
    return static_cast<Widget*>(control->Handle()->widget.get());
}

template <class Widget> Widget* MakeWidget(TControl* control, TForm* owner) {
    auto widget = std::make_unique<Widget>(owner->Handle()->client);
    Widget* made = widget.get();
    control->Handle()->widget = std::move(widget);
    return made;
}

// A push button that Enter presses while it has the focus, as Space does; Enter elsewhere in
// the window goes on to the window, which presses its default button.
class EnterClickingPushButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
            QPushButton::keyPressEvent(event);
            return;
        }
        event->accept();
        click();
    }
};

// A check box that toggles on a click anywhere in its area, not only on its square and caption.
class WholeAreaCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    bool hitButton(const QPoint& position) const override { return rect().contains(position); }
};

// A label that may shorten its caption in the middle to fit, with the whole caption as its tip.
class CaptionLabel : public QLabel {
public:
    using QLabel::QLabel;

    void ShowCaption(const QString& caption, bool elided) {
        caption_ = caption;
        elided_ = elided;
        Fit();
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        Fit();
    }
    void changeEvent(QEvent* event) override {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::FontChange)
            Fit();
    }

private:
    void Fit() {
        const QString shown =
            elided_ ? fontMetrics().elidedText(caption_, Qt::ElideMiddle, contentsRect().width()) : caption_;
        setText(shown);
        setToolTip(shown == caption_ ? QString() : caption_);
    }

    QString caption_;
    bool elided_ = false;
};

// The toolkit masks with the style's own character; a style sheet puts ours in its place.
void ApplyPasswordChar(QLineEdit* edit, char16_t passwordChar) {
    edit->setEchoMode(passwordChar ? QLineEdit::Password : QLineEdit::Normal);
    edit->setStyleSheet(passwordChar ? QStringLiteral("QLineEdit { lineedit-password-character: %1 }")
                                           .arg(static_cast<int>(passwordChar))
                                     : QString());
}

void ApplyValidator(QLineEdit* edit, bool numbersOnly) {
    if (numbersOnly)
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    else
        edit->setValidator(nullptr);
}

QIcon GlyphIcon(const std::vector<uint32_t>& argbPixels) {
    if (argbPixels.size() != 16 * 16)
        return {};
    const QImage image(reinterpret_cast<const uchar*>(argbPixels.data()), 16, 16, QImage::Format_ARGB32);
    return QIcon(QPixmap::fromImage(image.copy()));
}

} // namespace

// ---- TControl -------------------------------------------------------------------------------

TControl::TControl(TForm* owner) : owner_(owner), impl_(std::make_unique<Impl>()) {
    owner_->ControlCreated(this);
}

TControl::~TControl() {
    owner_->ControlDestroyed(this);
}

bool TControl::HandleAllocated() const {
    return impl_->widget != nullptr;
}

void TControl::ApplyCommonProperties() {
    QWidget* widget = impl_->widget.get();
    widget->setGeometry(left_, top_, width_, height_);
    widget->setEnabled(enabled_);
    widget->setHidden(!visible_);
    widget->setFocusPolicy(tabOrder_ >= 0 ? Qt::StrongFocus : Qt::NoFocus);
    if (!fontFamily_.empty()) {
        QFont font(ToQString(fontFamily_));
        font.setStyleHint(QFont::TypeWriter); // the stand-in when the family is not installed
        font.setPixelSize(fontPixelHeight_);
        widget->setFont(font);
    }
}

void TControl::SetBounds(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    if (QWidget* widget = impl_->widget.get())
        widget->setGeometry(left, top, width, height);
}

void TControl::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (QWidget* widget = impl_->widget.get())
        widget->setEnabled(enabled);
}

void TControl::SetVisible(bool visible) {
    visible_ = visible;
    if (QWidget* widget = impl_->widget.get())
        widget->setHidden(!visible);
}

void TControl::SetTabOrder(int order) {
    tabOrder_ = order;
    if (QWidget* widget = impl_->widget.get()) {
        widget->setFocusPolicy(order >= 0 ? Qt::StrongFocus : Qt::NoFocus);
        owner_->TabOrderChanged();
    }
}

// ---- TLabel ---------------------------------------------------------------------------------

void TLabel::CreateWidget() {
    MakeWidget<CaptionLabel>(this, Owner())->ShowCaption(ToQString(caption_), elidedInMiddle_);
}

void TLabel::SetCaption(std::u16string_view caption) {
    caption_ = caption;
    if (auto* label = WidgetOf<CaptionLabel>(this))
        label->ShowCaption(ToQString(caption_), elidedInMiddle_);
}

void TLabel::SetElidedInMiddle(bool elided) {
    elidedInMiddle_ = elided;
    if (auto* label = WidgetOf<CaptionLabel>(this))
        label->ShowCaption(ToQString(caption_), elidedInMiddle_);
}

// ---- TEdit ----------------------------------------------------------------------------------

void TEdit::CreateWidget() {
    auto* edit = MakeWidget<QLineEdit>(this, Owner());
    edit->setText(ToQString(text_));
    ApplyPasswordChar(edit, passwordChar_);
    ApplyValidator(edit, numbersOnly_);
    QObject::connect(edit, &QLineEdit::textChanged,
                     [this](const QString& text) { TextShown(FromQString(text)); });
}

void TEdit::SetText(std::u16string_view text) {
    text_ = text;
    if (QLineEdit* edit = WidgetOf<QLineEdit>(this)) {
        const QSignalBlocker quiet(edit);
        edit->setText(ToQString(text));
    }
}

void TEdit::SetNumbersOnly(bool numbersOnly) {
    numbersOnly_ = numbersOnly;
    if (QLineEdit* edit = WidgetOf<QLineEdit>(this))
        ApplyValidator(edit, numbersOnly);
}

void TEdit::SetPasswordChar(char16_t passwordChar) {
    passwordChar_ = passwordChar;
    if (QLineEdit* edit = WidgetOf<QLineEdit>(this))
        ApplyPasswordChar(edit, passwordChar);
}

// ---- TBitBtn --------------------------------------------------------------------------------

void TBitBtn::CreateWidget() {
    QPushButton* button = MakeWidget<EnterClickingPushButton>(this, Owner());
    button->setText(ToQString(caption_));
    button->setIcon(GlyphIcon(glyph_));
    button->setDefault(default_);
    QObject::connect(button, &QPushButton::clicked, [this] { Click(); });
}

void TBitBtn::SetCaption(std::u16string_view caption) {
    caption_ = caption;
    if (QPushButton* button = WidgetOf<QPushButton>(this))
        button->setText(ToQString(caption));
}

void TBitBtn::SetGlyph(const std::vector<uint32_t>& argbPixels) {
    glyph_ = argbPixels;
    if (QPushButton* button = WidgetOf<QPushButton>(this))
        button->setIcon(GlyphIcon(glyph_));
}

void TBitBtn::SetDefault(bool isDefault) {
    default_ = isDefault;
    if (QPushButton* button = WidgetOf<QPushButton>(this))
        button->setDefault(isDefault);
    Owner()->SetDefaultButton(isDefault ? this : nullptr);
}

// ---- TCheckBox ------------------------------------------------------------------------------

void TCheckBox::CreateWidget() {
    QCheckBox* box = MakeWidget<WholeAreaCheckBox>(this, Owner());
    box->setText(ToQString(caption_));
    box->setChecked(checked_);
    QObject::connect(box, &QCheckBox::toggled, [this](bool checked) {
        checked_ = checked;
        Click();
    });
}

void TCheckBox::SetCaption(std::u16string_view caption) {
    caption_ = caption;
    if (QCheckBox* box = WidgetOf<QCheckBox>(this))
        box->setText(ToQString(caption));
}

// Without raising the toolkit's own signal: the shared code runs the click reaction itself.
void TCheckBox::ShowChecked() {
    if (QCheckBox* box = WidgetOf<QCheckBox>(this)) {
        const QSignalBlocker quiet(box);
        box->setChecked(checked_);
    }
}

// ---- TComboBox ------------------------------------------------------------------------------

void TComboBox::CreateWidget() {
    QComboBox* box = MakeWidget<QComboBox>(this, Owner());
    ShowItems();
    QObject::connect(box, &QComboBox::currentIndexChanged, [this](int index) { Picked(index); });
}

void TComboBox::ShowItems() {
    if (QComboBox* box = WidgetOf<QComboBox>(this)) {
        const QSignalBlocker quiet(box);
        box->clear();
        for (const std::u16string& item : items_)
            box->addItem(ToQString(item));
        box->setCurrentIndex(itemIndex_);
    }
}

void TComboBox::ShowItemIndex() {
    if (QComboBox* box = WidgetOf<QComboBox>(this)) {
        const QSignalBlocker quiet(box);
        box->setCurrentIndex(itemIndex_);
    }
}
