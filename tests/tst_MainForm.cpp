// The main window against the real test database: its component tree and start state, the saved
// editor height, and what a good or failed connection leaves behind.

#include "ConnectionSettings.h"
#include "Fonts.h"
#include "MainWindowFixture.h"
#include "TestSupport.h"

#include <Qsci/qsciscintilla.h>

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <memory>

using namespace quarvel;
using quarvel::test::FakePrompts;

namespace {

using Started = test::StartedWindow;

QByteArray iniValueLine(const QString& path, const QByteArray& key)
{
    for (const QByteArray& line : test::readAll(path).split('\n'))
        if (line.startsWith(key + '='))
            return line.trimmed();
    return {};
}

// Drags the sizing bar below pnlMain by dy pixels, as the user does with the mouse.
void dragSizingBar(QSplitter* splitter, int dy)
{
    QWidget* handle = splitter->handle(1);
    const QPoint local = handle->rect().center();
    const QPoint global = handle->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &press);
    QMouseEvent move(QEvent::MouseMove, local + QPoint(0, dy), global + QPoint(0, dy), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, local + QPoint(0, dy), global + QPoint(0, dy),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &release);
}

} // namespace

class tst_MainForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }

    void componentTree_data();
    void componentTree();
    void startState();
    void actions_data();
    void actions();
    void topHeightSavedOnResizeAndRestored();
    void sizingBarOnFullDiskKeepsSettings();
    void exportButtonAnchoredToBottom();
    void missingConfFolderReportsAndStillConnects();
    void connectsToTestDatabase();
    void failedConnection_data();
    void failedConnection();
};

void tst_MainForm::componentTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry"); // empty: not checked (laid out)
    for (const char* name :
         {"pnlMain", "pnlTop", "pnl1", "mmoScript", "nbMain", "GridPage", "MsgPage", "grdResult",
          "RzStatusBar1", "stpResult", "RzKeyStatus1", "RzClockStatus1", "mmoResult"})
        QTest::newRow(name) << QString::fromLatin1(name) << QRect();
    QTest::newRow("btnOpenSql") << "btnOpenSql" << QRect(0, 3, 27, 23);
    QTest::newRow("btnSaveSql") << "btnSaveSql" << QRect(0, 27, 27, 23);
    QTest::newRow("btnRun") << "btnRun" << QRect(37, 4, 121, 42);
    QTest::newRow("btnRunSel") << "btnRunSel" << QRect(38, 56, 121, 42);
    QTest::newRow("lblModal") << "lblModal" << QRect(41, 148, 64, 15);
}

void tst_MainForm::componentTree()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QTemporaryDir dir;
    TfrmMain form(dir.path());
    auto* widget = form.findChild<QWidget*>(name);
    QVERIFY2(widget, qPrintable(name));
    if (!geometry.isNull())
        QCOMPARE(widget->geometry(), geometry);
}

void tst_MainForm::startState()
{
    QTemporaryDir dir;
    QVERIFY(test::writeConnectionConfig(dir.path(), test::testDb()));
    Started s(dir.path());

    QCOMPARE(s.form->windowTitle(), QStringLiteral("岚拓数据库执行工具"));
    QCOMPARE(s.form->size(), QSize(1004, 750));
    QCOMPARE(s.child<QStackedWidget>("nbMain")->currentWidget()->objectName(),
             QStringLiteral("GridPage"));
    auto* grid = s.child<QTableView>("grdResult");
    QVERIFY(!grid->model() || grid->model()->rowCount() == 0);
    QVERIFY(!s.child<QToolButton>("btnExportFile")->isVisible());
    QVERIFY(!s.child<QToolButton>("btnSaveSql")->isVisible());
    QVERIFY(s.child<QToolButton>("btnOpenSql")->isVisible());
    QCOMPARE(s.child<QToolButton>("btnOpenSql")->toolTip(), QStringLiteral("打开sql脚本文件"));
    QCOMPARE(s.child<QToolButton>("btnExportFile")->toolTip(),
             QStringLiteral("导出查询结果为EXCEL文件"));

    auto* label = s.child<QLabel>("lblModal");
    QCOMPARE(label->text(), QStringLiteral("只读模式"));
    QVERIFY(label->font().bold());
    QCOMPARE(label->palette().color(label->foregroundRole()), QColor(Qt::blue));

    // The run buttons: light yellow, bold 15 px, showing their actions.
    auto* run = s.child<QPushButton>("btnRun");
    QCOMPARE(run->text(), QStringLiteral("执行(CTRL+R)"));
    QCOMPARE(run->toolTip(), QStringLiteral("执行文本框中的SQL语句"));
    QVERIFY(run->styleSheet().contains(QStringLiteral("#ffff80")));
    QCOMPARE(run->font().pixelSize(), 15);
    QVERIFY(run->font().bold());
    QCOMPARE(s.child<QPushButton>("btnRunSel")->text(), QStringLiteral("执行选中的SQL"));

    // The editor is a real QScintilla; the clock shows the time, the offscreen Num Lock pane
    // nothing.
    QVERIFY(qobject_cast<QsciScintilla*>(s.child<QWidget>("mmoScript")));
    QVERIFY(QDateTime::fromString(s.child<QLabel>("RzClockStatus1")->text(),
                                  QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                .isValid());
    QCOMPARE(s.child<QLabel>("RzKeyStatus1")->text(), QString());
    QVERIFY(s.prompts.messages.isEmpty());
}

void tst_MainForm::actions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<QKeySequence>("shortcut");
    QTest::newRow("actRun") << "actRun"
                            << "执行(CTRL+R)"
                            << "执行文本框中的SQL语句" << QKeySequence(Qt::CTRL | Qt::Key_R);
    QTest::newRow("actRunSel") << "actRunSel"
                               << "执行选中的SQL"
                               << "执行文本框中选中的SQL"
                               << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R);
    QTest::newRow("actModal") << "actModal"
                              << "actModal"
                              << "" << QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_W);
}

void tst_MainForm::actions()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QString, hint);
    QFETCH(QKeySequence, shortcut);
    QTemporaryDir dir;
    QVERIFY(test::writeConnectionConfig(dir.path(), test::testDb()));
    Started s(dir.path());
    QVERIFY(QTest::qWaitForWindowActive(s.form.get()));

    auto* action = s.child<QAction>(name);
    QVERIFY(action);
    QCOMPARE(action->text(), caption);
    QCOMPARE(action->statusTip(), hint);
    QCOMPARE(action->shortcut(), shortcut);

    // The shortcut reaches the action while the editor has the focus.
    auto* editor = s.child<QWidget>("mmoScript");
    editor->setFocus();
    QTRY_VERIFY(editor->hasFocus());
    QSignalSpy triggered(action, &QAction::triggered);
    QTest::keySequence(editor, shortcut);
    QCOMPARE(triggered.count(), 1);
}

void tst_MainForm::topHeightSavedOnResizeAndRestored()
{
    QTemporaryDir dir;
    QVERIFY(test::writeConnectionConfig(dir.path(), test::testDb()));
    const QString ini = configIniPath(dir.path());
    {
        Started s(dir.path());
        // No TopHeight yet: the panel takes 175 and that is written back.
        QCOMPARE(s.form->topHeight(), 175);
        QCOMPARE(iniValueLine(ini, "TopHeight"), QByteArray("TopHeight=175"));

        dragSizingBar(s.child<QSplitter>("splMain"), 40);
        QCOMPARE(s.form->topHeight(), 215);
        QCOMPARE(iniValueLine(ini, "TopHeight"), QByteArray("TopHeight=215"));

        // A smaller window squeezes the grid, not the editor: no write.
        s.form->resize(1004, 600);
        QCOMPARE(s.form->topHeight(), 215);
        QVERIFY(s.prompts.messages.isEmpty());
    }
    const QByteArray before = test::readAll(ini);
    Started again(dir.path());
    QCOMPARE(again.form->topHeight(), 215);
    QCOMPARE(test::readAll(ini), before);
}

void tst_MainForm::sizingBarOnFullDiskKeepsSettings()
{
    QTemporaryDir dir;
    QVERIFY(test::writeConnectionConfig(dir.path(), test::testDb()));
    const QString ini = configIniPath(dir.path());
    Started s(dir.path());
    const QByteArray before = test::readAll(ini);
    {
        test::FileSizeLimit diskFull(8);
        dragSizingBar(s.child<QSplitter>("splMain"), 40);
    }
    QCOMPARE(s.prompts.messages.size(), 1);
    const FakePrompts::Message& report = s.prompts.messages.first();
    QCOMPARE(report.icon, QMessageBox::Critical);
    QCOMPARE(report.text, QStringLiteral("Unable to write to ") + QDir::toNativeSeparators(ini));
    QCOMPARE(test::readAll(ini), before);
}

void tst_MainForm::exportButtonAnchoredToBottom()
{
    QTemporaryDir dir;
    Started s(dir.path());
    auto* button = s.child<QToolButton>("btnExportFile");
    for (const int height : {179, 175, 260}) {
        s.form->setTopHeight(height);
        QCOMPARE(s.form->topHeight(), height);
        QCOMPARE(button->pos(), QPoint(1, 142 + height - 179));
    }
}

void tst_MainForm::missingConfFolderReportsAndStillConnects()
{
    // Beside the product's executable, with its server's port in my.ini but no conf folder:
    // restoring the default height tries to write conf/config.ini, which fails and is reported;
    // the connection is still attempted with the sibling defaults.
    QTemporaryDir dir;
    const test::TestDb db = test::testDb();
    QVERIFY(test::writeAll(dir.path() + "/Velmora.exe", "MZ"));
    QVERIFY(test::writeAll(dir.path() + "/kavromysql/my.ini",
                           "[mysqld]\r\nport=" + QByteArray::number(db.port) + "\r\n"));
    Started s(dir.path());

    QCOMPARE(s.prompts.messages.size(), 1);
    const FakePrompts::Message& report = s.prompts.messages.first();
    QCOMPARE(report.icon, QMessageBox::Critical);
    QCOMPARE(report.caption, QStringLiteral("岚拓数据库执行工具"));
    QCOMPARE(report.text, QStringLiteral("Unable to write to ") +
                              QDir::toNativeSeparators(configIniPath(dir.path())));
    QVERIFY(!QFileInfo::exists(dir.path() + "/conf"));

    const db::ConnectionParams& used = s.form->connection().params();
    QCOMPARE(used.server, QStringLiteral("127.0.0.1"));
    QCOMPARE(used.port, db.port);
    QCOMPARE(used.database, QStringLiteral("velmora"));
    // No user configured: the server refuses, the run buttons are disabled.
    QVERIFY(!s.form->connection().isOpen());
    QVERIFY(!s.child<QPushButton>("btnRun")->isEnabled());
}

void tst_MainForm::connectsToTestDatabase()
{
    QTemporaryDir dir;
    QVERIFY(test::writeConnectionConfig(dir.path(), test::testDb()));
    Started s(dir.path());
    QVERIFY2(s.form->connection().isOpen(), "is scripts/testdb.sh running?");
    QVERIFY(s.child<QPushButton>("btnRun")->isEnabled());
    QVERIFY(s.child<QPushButton>("btnRunSel")->isEnabled());
    QVERIFY(s.prompts.messages.isEmpty());
}

void tst_MainForm::failedConnection_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("port");
    const test::TestDb db = test::testDb();
    QTest::newRow("wrong password") << "not-the-password" << db.port;
    QTest::newRow("server not running") << db.password << 9; // discard port: nothing listens
}

void tst_MainForm::failedConnection()
{
    QFETCH(QString, password);
    QFETCH(int, port);
    test::TestDb db = test::testDb();
    db.password = password;
    db.port = port;
    QTemporaryDir dir;
    QVERIFY(test::writeConnectionConfig(dir.path(), db));
    Started s(dir.path());
    QVERIFY(QTest::qWaitForWindowActive(s.form.get()));

    QVERIFY(!s.form->connection().isOpen());
    QVERIFY(!s.child<QPushButton>("btnRun")->isEnabled());
    QVERIFY(!s.child<QPushButton>("btnRunSel")->isEnabled());
    QVERIFY(s.prompts.messages.isEmpty()); // the reason is not shown at start

    // Only the buttons are disabled: the actions and their shortcuts stay live.
    auto* run = s.child<QAction>("actRun");
    QVERIFY(run->isEnabled());
    QVERIFY(s.child<QAction>("actRunSel")->isEnabled());
    auto* editor = s.child<QWidget>("mmoScript");
    editor->setFocus();
    QSignalSpy triggered(run, &QAction::triggered);
    QTest::keyClick(editor, Qt::Key_R, Qt::ControlModifier);
    QCOMPARE(triggered.count(), 1);
}

QTEST_MAIN(tst_MainForm)
#include "tst_MainForm.moc"
