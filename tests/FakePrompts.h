#pragma once

#include "Prompts.h"

#include <QList>
#include <QQueue>

namespace quarvel::test {

// Scripted prompts: records every box and dialog, answers from queues (OK and cancel by
// default).
class FakePrompts : public Prompts
{
public:
    struct Message
    {
        QMessageBox::Icon icon;
        QString caption;
        QString text;
        QMessageBox::StandardButtons buttons;
    };
    struct Dialog
    {
        bool save;
        FileDialogOptions options;
    };

    QList<Message> messages;
    QList<Dialog> dialogs;
    QQueue<QMessageBox::StandardButton> messageAnswers;
    QQueue<QString> fileAnswers;

    QMessageBox::StandardButton message(QWidget*, QMessageBox::Icon icon, const QString& caption,
                                        const QString& text,
                                        QMessageBox::StandardButtons buttons) override
    {
        messages.append({icon, caption, text, buttons});
        return messageAnswers.isEmpty() ? QMessageBox::Ok : messageAnswers.dequeue();
    }

    QString openFileName(QWidget*, const FileDialogOptions& options) override
    {
        dialogs.append({false, options});
        return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
    }

    QString saveFileName(QWidget*, const FileDialogOptions& options) override
    {
        dialogs.append({true, options});
        return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
    }

    // Each asked line as (current, last); answered from lineAnswers (cancel by default).
    QList<QPair<int, int>> lineQuestions;
    QQueue<int> lineAnswers;
    int lineNumber(QWidget*, int current, int last) override
    {
        lineQuestions.append({current, last});
        return lineAnswers.isEmpty() ? 0 : lineAnswers.dequeue();
    }
};

} // namespace quarvel::test
