#pragma once

#include "FakePrompts.h"
#include "MainForm.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QTest>
#include <memory>

namespace quarvel::test {

// A main window started on its own base folder, with scripted prompts.
struct StartedWindow
{
    std::unique_ptr<TfrmMain> form;
    FakePrompts prompts;

    explicit StartedWindow(const QString& folder)
        : form(std::make_unique<TfrmMain>(folder))
    {
        form->setPrompts(&prompts);
        form->show();
        form->activateWindow();
    }

    template <typename T>
    T* child(const QString& name) const
    {
        return form->findChild<T*>(name);
    }

    // Triggers the action and, when it started a statement, waits for its outcome.
    void trigger(const char* actionName) const
    {
        child<QAction>(QLatin1String(actionName))->trigger();
        waitForRun();
    }

    // Lets the window work until no statement runs; false when one still runs after `ms`.
    bool waitForRun(int ms = 60000) const
    {
        QDeadlineTimer deadline(ms);
        while (form->isRunning() && !deadline.hasExpired())
            QTest::qWait(2);
        return !form->isRunning();
    }
};

} // namespace quarvel::test
