#pragma once

#include "FakePrompts.h"
#include "MainForm.h"

#include <QAction>
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

    void trigger(const char* actionName) const
    {
        child<QAction>(QLatin1String(actionName))->trigger();
    }
};

} // namespace quarvel::test
