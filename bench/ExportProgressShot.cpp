// Saves a screenshot of the screen during a long export from the real window, for checking the
// progress window by eye. Needs the test database and a display (Xvfb will do).
//
// usage: export_progress_shot SHOT.png [saving]
// With "saving", the shot is taken while the workbook is being saved (the library compresses it).

#include "Fonts.h"
#include "MainForm.h"
#include "Prompts.h"
#include "TestSupport.h"

#include <Qsci/qsciscintilla.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
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
    while (form.isRunning())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);

    bool saved = false;
    const bool whileSaving = argc > 2 && QByteArray(argv[2]) == "saving";
    QElapsedTimer sinceStart;
    sinceStart.start();
    // Runs inside the export's own event loop.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (saved)
            return;
        const auto* label = qobject_cast<QLabel*>([] {
            for (QWidget* window : QApplication::topLevelWidgets())
                if (auto* label = window->findChild<QLabel*>(QStringLiteral("lblProgress")))
                    return static_cast<QObject*>(label);
            return static_cast<QObject*>(nullptr);
        }());
        const bool due = whileSaving
                             ? label && label->text() == QStringLiteral("正在保存文件，请稍候……")
                             : sinceStart.elapsed() >= 1500;
        if (due) {
            QThread::msleep(whileSaving ? 300 : 0); // let the busy bar move a little
            QApplication::processEvents();
            saved = QGuiApplication::primaryScreen()->grabWindow(0).save(shot);
        }
    });
    watch.start(20);
    form.findChild<QToolButton*>(QStringLiteral("btnExportFile"))->click();
    std::printf("%s %s\n", saved ? "saved" : "not saved", qPrintable(shot));
    return saved ? 0 : 1;
}
