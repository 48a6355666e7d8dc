#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace quarvel {

// A file dialog as the program describes it: the filter in the "description|*.ext" form used
// throughout the program, a default extension such as ".sql" (appended when the user types
// none), and whether an existing file asks before being overwritten.
struct FileDialogOptions
{
    QString title;
    QString filter;
    QString defaultExtension;
    bool overwritePrompt = false;
    // Where the dialog starts (empty: the dialog's own choice).
    QString folder;
};

// Every message box and file dialog of the program goes through this, so that tests can script
// the answers.
class Prompts
{
public:
    virtual ~Prompts() = default;

    virtual QMessageBox::StandardButton message(QWidget* parent, QMessageBox::Icon icon,
                                                const QString& caption, const QString& text,
                                                QMessageBox::StandardButtons buttons) = 0;

    // The chosen file name, or an empty string when the user cancels.
    virtual QString openFileName(QWidget* parent, const FileDialogOptions& options) = 0;
    virtual QString saveFileName(QWidget* parent, const FileDialogOptions& options) = 0;

    // A line number from 1 to `last`, starting at `current`; 0 when the user cancels.
    virtual int lineNumber(QWidget* parent, int current, int last) = 0;
};

// The real dialogs.
class WidgetPrompts : public Prompts
{
public:
    QMessageBox::StandardButton message(QWidget* parent, QMessageBox::Icon icon,
                                        const QString& caption, const QString& text,
                                        QMessageBox::StandardButtons buttons) override;
    QString openFileName(QWidget* parent, const FileDialogOptions& options) override;
    QString saveFileName(QWidget* parent, const FileDialogOptions& options) override;
    int lineNumber(QWidget* parent, int current, int last) override;
};

// "Script files(*.sql)|*.sql|All|*.*" -> "Script files(*.sql);;All (*.*)", the form Qt's dialogs
// take; a description that already shows its patterns is not given them twice.
QString toQtFilter(const QString& pipeFilter);

} // namespace quarvel
