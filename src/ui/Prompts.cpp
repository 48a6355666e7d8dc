#include "Prompts.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QInputDialog>

#include <utility>

namespace quarvel {

QString toQtFilter(const QString& pipeFilter)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        const QString shown = QStringLiteral("(%1)").arg(patterns);
        filters << (parts[i].endsWith(shown) ? parts[i]
                                             : QStringLiteral("%1 %2").arg(parts[i], shown));
    }
    return filters.join(QStringLiteral(";;"));
}

QMessageBox::StandardButton WidgetPrompts::message(QWidget* parent, QMessageBox::Icon icon,
                                                   const QString& caption, const QString& text,
                                                   QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, caption, text, buttons, parent);
    // The program's own words for the save question's buttons, whatever Qt's translation says.
    for (const auto& [button, label] :
         {std::pair{QMessageBox::Save, "保存"}, std::pair{QMessageBox::Discard, "不保存"},
          std::pair{QMessageBox::Cancel, "取消"}})
        if (QAbstractButton* shown = box.button(button))
            shown->setText(QString::fromUtf8(label));
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

namespace {

QString runFileDialog(QWidget* parent, const FileDialogOptions& options,
                      QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, options.title);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setNameFilter(toQtFilter(options.filter));
    QString suffix = options.defaultExtension;
    if (suffix.startsWith(QLatin1Char('.')))
        suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !options.overwritePrompt);
    if (!options.folder.isEmpty())
        dialog.setDirectory(options.folder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace

QString WidgetPrompts::openFileName(QWidget* parent, const FileDialogOptions& options)
{
    return runFileDialog(parent, options, QFileDialog::AcceptOpen);
}

QString WidgetPrompts::saveFileName(QWidget* parent, const FileDialogOptions& options)
{
    return runFileDialog(parent, options, QFileDialog::AcceptSave);
}

int WidgetPrompts::lineNumber(QWidget* parent, int current, int last)
{
    bool ok = false;
    const int line = QInputDialog::getInt(parent, QStringLiteral("转到行"),
                                          QStringLiteral("行号（1 - %1）：").arg(last), current, 1,
                                          last, 1, &ok);
    return ok ? line : 0;
}

} // namespace quarvel
