#include "shell/Dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "shell/BackEnd.h"
#include "shell/qt/QtBridge.h"

namespace {

QWidget* WindowOf(TForm* form) {
    return form ? form->Handle()->window.get() : nullptr;
}

// One toolkit entry "description (patterns)"; a description that already ends with its
// patterns in parentheses is kept as it stands.
QString FilterEntry(const QString& description, const QString& patterns) {
    const QString spaced = QString(patterns).replace(u';', u' ');
    if (description.endsWith(QStringLiteral("(%1)").arg(spaced)))
        return description;
    return QStringLiteral("%1 (%2)").arg(description, spaced);
}

QString StartFolder(const std::u16string& folder) {
    QString start = ToQString(folder);
    if (start == QStringLiteral("~") || start.startsWith(QStringLiteral("~/")))
        start.replace(0, 1, QDir::homePath());
    return start;
}

} // namespace

std::u16string TOpenDialog::ToolkitFilter(std::u16string_view filter) {
    const QStringList parts = ToQString(filter).split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        entries << FilterEntry(parts[i], parts[i + 1]);
    return FromQString(entries.join(QStringLiteral(";;")));
}

std::optional<std::u16string> TOpenDialog::RunSystemChooser() const {
    // The toolkit's own chooser: the same on every desktop, and it matches the patterns
    // without regard to letter case.
    QFileDialog dialog(WindowOf(owner_), ToQString(title_), StartFolder(initialDir_));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(ToQString(ToolkitFilter(filter_)).split(QStringLiteral(";;")));
    dialog.setFilter((dialog.filter() & ~QDir::CaseSensitive) |
                     (executablesOnly_ ? QDir::Executable : QDir::Filters()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return FromQString(dialog.selectedFiles().first());
}

void ShowSystemInformationBox(TForm* owner, std::u16string_view message, std::u16string_view caption) {
    QMessageBox box(QMessageBox::Information, ToQString(caption), ToQString(message), QMessageBox::Ok,
                    WindowOf(owner));
    box.exec();
}
