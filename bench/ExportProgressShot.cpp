// Saves a screenshot of the screen during a long export from the real window, for checking the
// progress window by eye. Needs the test database and a display (Xvfb will do).
//
// usage: export_progress_shot SHOT.png

#include "Fonts.h"
#include "MainForm.h"
#include "Prompts.h"
#include "TestSupport.h"

#include <Qsci/qsciscintilla.h>

#include <QAction>
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <cstdio>

using namespace quarvel;

namespace {

// Picks the export's file; everything else is shown for real.
class ShotPrompts : public WidgetPrompts
{
public:
    explicit ShotPrompts(QString fileName)
        : m_fileName(std::move(fileName))
    {
    }
    QString saveFileName(QWidget*, const FileDialogOptions&) override { return m_fileName; }

private:
    QString m_fileName;
};

} // namespace

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("QT_ENABLE_HIGHDPI_SCALING"))
        qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: export_progress_shot SHOT.png\n");
        return 2;
    }
    const QString shot = QString::fromLocal8Bit(argv[1]);
    installFontSubstitutes();

    QTemporaryDir folder;
    test::writeConnectionConfig(folder.path(), test::testDb());
    ShotPrompts prompts(folder.filePath(QStringLiteral("shot.xlsx")));
    TfrmMain form(folder.path());
    form.setPrompts(&prompts);
    form.show();
    QApplication::processEvents();
    form.findChild<QsciScintilla*>(QStringLiteral("mmoScript"))
        ->setText(QStringLiteral("select seq, concat('客户', seq) as name, lpad(seq, 8, '0') as"
                                 " code, '2020-01-01' + interval seq minute as seen"
                                 " from seq_1_to_1000000"));
    form.findChild<QAction*>(QStringLiteral("actRun"))->trigger();

    bool saved = false;
    // Runs inside the export's own event processing, a while after it started.
    QTimer::singleShot(1500,
                       [&] { saved = QGuiApplication::primaryScreen()->grabWindow(0).save(shot); });
    form.findChild<QToolButton*>(QStringLiteral("btnExportFile"))->click();
    std::printf("%s %s\n", saved ? "saved" : "not saved", qPrintable(shot));
    return saved ? 0 : 1;
}
