#include "ErrorReport.h"

#include "Prompts.h"

#include "AppInfo.h"

#include <exception>

namespace quarvel {

void showErrorReport(Prompts& prompts, QWidget* parent, const QString& text)
{
    prompts.message(parent, QMessageBox::Critical, appTitle(), text, QMessageBox::Ok);
}

bool runGuarded(Prompts& prompts, QWidget* parent, const std::function<void()>& handler)
{
    QString text;
    try {
        handler();
        return true;
    } catch (const std::exception& e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QStringLiteral("Unknown error");
    }
    showErrorReport(prompts, parent, text);
    return false;
}

} // namespace quarvel
