#include "AppInfo.h"
#include "ErrorReport.h"
#include "ExcelUtilObj.h"
#include "Fonts.h"
#include "MainForm.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// Last line of defence: handlers run guarded already, but an exception from anywhere else must
// still end in the error report instead of crossing Qt's event loop.
class QuarvelApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        // Plain try/catch: this runs for every event, so nothing is set up unless one throws.
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            quarvel::WidgetPrompts prompts;
            quarvel::showErrorReport(prompts, activeWindow(), quarvel::currentExceptionText());
            return false;
        }
    }
};

} // namespace

int main(int argc, char* argv[])
{
    // The window is laid out in pixels and is not scaled by screen density.
    if (!qEnvironmentVariableIsSet("QT_ENABLE_HIGHDPI_SCALING"))
        qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");

    QuarvelApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quarvel"));
    QApplication::setApplicationVersion(QStringLiteral(QUARVEL_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/res/quarvel.png")));
    QApplication::setDesktopFileName(QStringLiteral("quarvel"));
    quarvel::installFontSubstitutes();

    // Every text of the program is Chinese; the standard buttons and dialogs should be too,
    // whatever the system's language.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                     QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    quarvel::TfrmMain frmMain;
    frmMain.show();
    const int status = QApplication::exec();
    quarvel::waitForAbandonedExports();
    return status;
}
