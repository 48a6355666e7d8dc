#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace quarvel {

class Prompts;

// The default error report: the error's text in a message box with the application title as
// caption and an error icon.
void showErrorReport(Prompts& prompts, QWidget* parent, const QString& text);

// The text of the exception being handled; call it only inside a catch block.
QString currentExceptionText();

// Runs a handler so that no exception leaves it: whatever it throws ends in the default error
// report. Returns false when the handler threw.
bool runGuarded(Prompts& prompts, QWidget* parent, const std::function<void()>& handler);

} // namespace quarvel
