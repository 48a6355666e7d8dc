#include "ErrorReport.h"

#include "AppInfo.h"
#include "Prompts.h"

#include <exception>

namespace quarvel {

void showErrorReport(Prompts& prompts, QWidget* parent, const QString& text)
{
    prompts.message(parent, QMessageBox::Critical, appTitle(), text, QMessageBox::Ok);
}

QString currentExceptionText()
{
    try {
        throw;
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

bool runGuarded(Prompts& prompts, QWidget* parent, const std::function<void()>& handler)
{
    try {
        handler();
        return true;
    } catch (...) {
        showErrorReport(prompts, parent, currentExceptionText());
        return false;
    }
}

} // namespace quarvel
