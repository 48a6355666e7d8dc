// Running statements from the real window against the real test database: which text runs, the
// read-only mode (the text guard and the server's own), the query and command outcomes, and a
// connection lost in the middle of a session.

#include "Connection.h"
#include "MainWindowFixture.h"
#include "SqlEditor.h"
#include "Statement.h"
#include "TestSupport.h"

#include <Qsci/qsciscintilla.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace quarvel;
using test::StartedWindow;

namespace {

const QString kRefusal = QStringLiteral(
    "只读模式下不能执行任何含有delete、update、insert、create、truncate、drop等关键字的SQL语句！");
const QString kNotConnected =
    QStringLiteral("数据库搜寻失败！请确认该程序是放在服务端安装目录之下。");
const QString kFailedStatus = QStringLiteral("执行SQL语句失败！");
const QString kReconnected = QStringLiteral(
    "数据库连接已断开，已重新连接：原会话中未提交的事务、USE 选择的数据库和会话变量均已失效。");
const QRegularExpression
    kQueryStatus(QStringLiteral("^耗时 \\d+\\.\\d{3} 秒，共返回 (\\d+) 条数据库记录$"));

QString affected(int n)
{
    return QStringLiteral("SQL语句执行完毕！共影响了 %1 条数据库记录。").arg(n);
}

// A window connected to the test database, with helpers to run text and look at the outcome.
struct Runner : StartedWindow
{
    explicit Runner(const QString& folder)
        : StartedWindow(folder)
    {
    }

    void run(const QString& text)
    {
        editor()->setText(text);
        trigger("actRun");
    }
    QsciScintilla* editor() const { return child<QsciScintilla>(QStringLiteral("mmoScript")); }
    QString page() const
    {
        return child<QStackedWidget>(QStringLiteral("nbMain"))->currentWidget()->objectName();
    }
    QPlainTextEdit* message() const { return child<QPlainTextEdit>(QStringLiteral("mmoResult")); }
    QColor messageColour() const { return message()->palette().color(QPalette::Text); }
    QString status() const { return child<QLabel>(QStringLiteral("stpResult"))->text(); }
    QAbstractItemModel* grid() const
    {
        return child<QTableView>(QStringLiteral("grdResult"))->model();
    }
    bool exportShown() const
    {
        return !child<QToolButton>(QStringLiteral("btnExportFile"))->isHidden();
    }
    bool writable() const
    {
        return child<QLabel>(QStringLiteral("lblModal"))->text() == QStringLiteral("可写模式");
    }
    void setWritable(bool on)
    {
        if (writable() != on)
            trigger("actModal");
    }
};

} // namespace

class tst_RunSql : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void dispatch_data();
    void dispatch();
    void blankTextDoesNothing();
    void refusalKeepsEverything();
    void outcomes_data();
    void outcomes();
    void backslashes();
    void queryWithoutRows();
    void failingCommandKeepsGrid();
    void selectionRuns();
    void nulByteDoesNotCutStatement();
    void modeToggle();
    void serverRefusesWritesInReadOnlyMode_data();
    void serverRefusesWritesInReadOnlyMode();
    void severalStatements();
    void notConnectedEveryTime_data();
    void notConnectedEveryTime();
    void lostConnectionIsRestored();
    void commandRowsAreShown_data();
    void commandRowsAreShown();
    void reconnectIsNeverSilent_data();
    void reconnectIsNeverSilent();
    void openTransactionKeepsWritableMode();
    void errorLineIsMarked_data();
    void errorLineIsMarked();
    void f6MovesTheFocus();

private:
    int rowsInTable();
    void exec(const QString& sql);

    QTemporaryDir m_folder;
    db::Connection m_admin;
};

void tst_RunSql::initTestCase()
{
    QVERIFY(test::writeConnectionConfig(m_folder.path(), test::testDb()));
    QVERIFY_THROWS_NO_EXCEPTION(m_admin.open(test::testDbParams()));
    exec(QStringLiteral("DROP PROCEDURE IF EXISTS wipe_runs"));
    exec(QStringLiteral("CREATE TABLE IF NOT EXISTS runs (id INT PRIMARY KEY, note VARCHAR(50))"));
    exec(QStringLiteral("CREATE PROCEDURE wipe_runs() DELETE FROM runs"));
    exec(QStringLiteral("DROP PROCEDURE IF EXISTS list_runs"));
    exec(QStringLiteral("CREATE PROCEDURE list_runs() SELECT * FROM runs ORDER BY id"));
}

void tst_RunSql::init()
{
    exec(QStringLiteral(
        "DELETE FROM runs; INSERT INTO runs VALUES (1, '一'), (2, 'two'), (3, NULL)"));
}

void tst_RunSql::exec(const QString& sql)
{
    test::execSql(m_admin, sql);
}

int tst_RunSql::rowsInTable()
{
    return test::firstCell(m_admin, QStringLiteral("SELECT COUNT(*) FROM runs")).toInt();
}

void tst_RunSql::dispatch_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("box");     // the message box shown, if any
    QTest::addColumn<QString>("message"); // mmoResult when the message page shows
    QTest::addColumn<int>("rows");        // grid rows when the grid page shows
    QTest::addColumn<int>("tableRows");   // rows left in the table

    QTest::newRow("blanks then select") << "   select * from runs" << false << "GridPage"
                                        << ""
                                        << "" << 3 << 3;
    QTest::newRow("upper case select") << "SELECT * FROM runs" << false << "GridPage"
                                       << ""
                                       << "" << 3 << 3;
    QTest::newRow("select with line breaks") << "\r\n\tselect id\r\nfrom runs\r\n"
                                             << false << "GridPage"
                                             << ""
                                             << "" << 3 << 3;
    // Commands, but with rows: shown as a query's would be.
    QTest::newRow("parenthesised select is a command") << "(select 1)" << false << "GridPage"
                                                       << ""
                                                       << "" << 1 << 3;
    QTest::newRow("show tables is a command") << "show tables like 'runs'" << false << "GridPage"
                                              << ""
                                              << "" << 1 << 3;
    QTest::newRow("a command without rows") << "do 1" << false << "MsgPage"
                                            << "" << affected(0) << 0 << 3;
    QTest::newRow("guard refuses lower case")
        << "delete from runs" << false << "GridPage" << kRefusal << "" << 0 << 3;
    QTest::newRow("guard refuses a literal") << "select * from runs where note = 'drop here'"
                                             << false << "GridPage" << kRefusal << "" << 0 << 3;
    QTest::newRow("writable mode refuses nothing")
        << "delete from runs where id = 1" << true << "MsgPage"
        << "" << affected(1) << 0 << 2;
    QTest::newRow("writable select with a keyword")
        << "select * from runs where note <> 'drop here'" << true << "GridPage"
        << ""
        << "" << 2 << 3;
}

void tst_RunSql::dispatch()
{
    QFETCH(QString, text);
    QFETCH(bool, writable);
    QFETCH(QString, page);
    QFETCH(QString, box);
    QFETCH(QString, message);
    QFETCH(int, rows);
    QFETCH(int, tableRows);

    Runner r(m_folder.path());
    r.setWritable(writable);
    r.run(text);

    if (box.isEmpty()) {
        QVERIFY(r.prompts.messages.isEmpty());
    } else {
        QCOMPARE(r.prompts.messages.size(), 1);
        QCOMPARE(r.prompts.messages[0].text, box);
        QCOMPARE(r.prompts.messages[0].caption, QStringLiteral("岚拓数据库执行工具"));
        QCOMPARE(r.prompts.messages[0].icon, QMessageBox::Critical);
        QCOMPARE(r.prompts.messages[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
    QCOMPARE(r.page(), page);
    if (page == QLatin1String("MsgPage"))
        QCOMPARE(r.message()->toPlainText(), message);
    if (box.isEmpty() && page == QLatin1String("GridPage")) {
        QCOMPARE(r.grid()->rowCount(), rows);
        QVERIFY(r.exportShown());
        const QRegularExpressionMatch m = kQueryStatus.match(r.status());
        QVERIFY2(m.hasMatch(), qPrintable(r.status()));
        QCOMPARE(m.captured(1).toInt(), rows);
    }
    QCOMPARE(rowsInTable(), tableRows);
}

void tst_RunSql::blankTextDoesNothing()
{
    Runner r(m_folder.path());
    r.run(QStringLiteral("select * from runs"));
    QVERIFY(r.exportShown());
    const QString status = r.status();
    for (const QString& blank : {QStringLiteral(""), QStringLiteral(" \r\n\t \n")}) {
        r.run(blank);
        QVERIFY(r.exportShown()); // not even the export button is touched
        QCOMPARE(r.status(), status);
        QCOMPARE(r.page(), QStringLiteral("GridPage"));
    }
    r.editor()->setText(QStringLiteral("select 1"));
    r.editor()->setSelection(0, 0, 0, 0);
    r.trigger("actRunSel"); // nothing selected
    QCOMPARE(r.status(), status);
    QVERIFY(r.prompts.messages.isEmpty());
}

void tst_RunSql::refusalKeepsEverything()
{
    Runner r(m_folder.path());
    r.run(QStringLiteral("select * from runs"));
    const QString status = r.status();
    r.child<QWidget>(QStringLiteral("grdResult"))->setFocus();
    r.run(QStringLiteral("update runs set note = 'x'"));
    QCOMPARE(r.prompts.messages.size(), 1);
    QCOMPARE(r.editor()->text(), QStringLiteral("update runs set note = 'x'"));
    QTRY_VERIFY(r.editor()->hasFocus());
    QVERIFY(r.exportShown());
    QCOMPARE(r.status(), status);
    QCOMPARE(r.grid()->rowCount(), 3);
}

void tst_RunSql::outcomes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("message"); // prefix of mmoResult's text
    QTest::addColumn<bool>("red");
    QTest::addColumn<QString>("status"); // empty, the failure text, or "query" for the timing
    QTest::newRow("command succeeds") << "update runs set note = 'x' where id = 2"
                                      << "MsgPage" << affected(1) << false << "";
    QTest::newRow("command fails") << "update nowhere set a = 1"
                                   << "MsgPage"
                                   << "Table 'velmora.nowhere' doesn't exist" << true << "";
    QTest::newRow("query succeeds") << "select * from runs"
                                    << "GridPage"
                                    << "earlier text" << false << "query";
    QTest::newRow("query fails") << "select nope from runs"
                                 << "MsgPage"
                                 << "Unknown column 'nope'" << true << kFailedStatus;
}

void tst_RunSql::outcomes()
{
    QFETCH(QString, text);
    QFETCH(QString, page);
    QFETCH(QString, message);
    QFETCH(bool, red);
    QFETCH(QString, status);

    Runner r(m_folder.path());
    r.setWritable(true);
    // Start from a red error, so the colour and text are seen to change.
    r.message()->setPlainText(QStringLiteral("earlier text"));
    r.run(QStringLiteral("select broken"));
    QCOMPARE(r.messageColour(), QColor(Qt::red));
    r.message()->setPlainText(QStringLiteral("earlier text"));

    r.run(text);
    QCOMPARE(r.page(), page);
    QVERIFY2(r.message()->toPlainText().startsWith(message),
             qPrintable(r.message()->toPlainText()));
    QCOMPARE(r.messageColour() == QColor(Qt::red), red);
    if (status == QLatin1String("query"))
        QVERIFY2(kQueryStatus.match(r.status()).hasMatch(), qPrintable(r.status()));
    else
        QCOMPARE(r.status(), status);
    // The export button follows every query path, failed or not.
    QCOMPARE(r.exportShown(), text.startsWith(QLatin1String("select")));
}

void tst_RunSql::backslashes()
{
    Runner r(m_folder.path());
    r.run(QStringLiteral("select 'a\\b'"));
    QCOMPARE(r.grid()->index(0, 0).data().toString(), QStringLiteral("a\\b"));

    // Doubled, then the escaped apostrophe grows to four backslashes: the server stumbles.
    r.run(QStringLiteral("select 'it\\'s'"));
    QCOMPARE(r.page(), QStringLiteral("MsgPage"));
    QVERIFY2(r.message()->toPlainText().contains(QStringLiteral("SQL syntax")),
             qPrintable(r.message()->toPlainText()));
    QCOMPARE(r.messageColour(), QColor(Qt::red));

    // With "update " in the text nothing is rewritten: the server reads \\ as one backslash.
    r.setWritable(true);
    r.run(QStringLiteral("select 'update ', 'a\\\\b'"));
    QCOMPARE(r.grid()->index(0, 1).data().toString(), QStringLiteral("a\\b"));
}

void tst_RunSql::queryWithoutRows()
{
    Runner r(m_folder.path());
    r.run(QStringLiteral("select id, note from runs where id < 0"));
    QCOMPARE(r.page(), QStringLiteral("GridPage"));
    QCOMPARE(r.grid()->rowCount(), 0);
    QCOMPARE(r.grid()->columnCount(), 2);
    QCOMPARE(r.grid()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("note"));
    const QRegularExpressionMatch m = kQueryStatus.match(r.status());
    QVERIFY(m.hasMatch());
    QCOMPARE(m.captured(1), QStringLiteral("0"));
}

void tst_RunSql::failingCommandKeepsGrid()
{
    Runner r(m_folder.path());
    r.run(QStringLiteral("select id, note from runs order by id"));
    r.run(QStringLiteral("call no_such_procedure()"));
    QCOMPARE(r.page(), QStringLiteral("MsgPage"));
    QCOMPARE(r.messageColour(), QColor(Qt::red));
    QCOMPARE(r.grid()->rowCount(), 3);
    QCOMPARE(r.grid()->index(0, 1).data().toString(), QStringLiteral("一"));
    QCOMPARE(r.grid()->index(2, 1).data().toString(), QStringLiteral("(NULL)"));
}

void tst_RunSql::selectionRuns()
{
    Runner r(m_folder.path());
    r.editor()->setText(QStringLiteral("delete from runs;\nselect note from runs where id = 2\n"));
    r.editor()->setSelection(1, 0, 1, 34);
    r.trigger("actRunSel");
    QVERIFY(r.prompts.messages.isEmpty()); // the guarded first line was not part of it
    QCOMPARE(r.grid()->rowCount(), 1);
    QCOMPARE(r.grid()->index(0, 0).data().toString(), QStringLiteral("two"));
}

void tst_RunSql::nulByteDoesNotCutStatement()
{
    // A script loaded from a file may hold a NUL; what follows it is still part of the
    // statement, so the where clause is never lost.
    Runner r(m_folder.path());
    r.setWritable(true);
    const QByteArray script("update runs set note = 'x'\0 where id = 2", 41);
    r.editor()->setText(QString());
    r.editor()->SendScintilla(QsciScintilla::SCI_ADDTEXT, uintptr_t(script.size()),
                              script.constData());
    const auto changedRows = [this] {
        return test::firstCell(m_admin,
                               QStringLiteral("SELECT COUNT(*) FROM runs WHERE note = 'x'"))
            .toInt();
    };

    r.trigger("actRun");
    QCOMPARE(r.messageColour(), QColor(Qt::red)); // the server refuses the NUL
    QCOMPARE(changedRows(), 0);

    // The selection comes with the NUL as a blank.
    r.editor()->SendScintilla(QsciScintilla::SCI_SELECTALL);
    r.trigger("actRunSel");
    QCOMPARE(r.message()->toPlainText(), affected(1));
    QCOMPARE(changedRows(), 1);
}

void tst_RunSql::modeToggle()
{
    Runner r(m_folder.path());
    auto* label = r.child<QLabel>(QStringLiteral("lblModal"));
    r.editor()->setFocus();
    QTRY_VERIFY(r.editor()->hasFocus());
    QTest::keyClick(r.editor(), Qt::Key_W, Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(label->text(), QStringLiteral("可写模式"));
    QCOMPARE(label->palette().color(label->foregroundRole()), QColor(Qt::red));
    QCOMPARE(r.editor()->text(), QString()); // the editor did not take the key
    QTest::keyClick(r.editor(), Qt::Key_W, Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(label->text(), QStringLiteral("只读模式"));
    QCOMPARE(label->palette().color(label->foregroundRole()), QColor(Qt::blue));
    QVERIFY(r.prompts.messages.isEmpty());
}

void tst_RunSql::serverRefusesWritesInReadOnlyMode_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("upper case delete") << "DELETE FROM runs";
    QTest::newRow("line break after delete") << "delete\nfrom runs";
    QTest::newRow("procedure that writes") << "call wipe_runs()";
    QTest::newRow("replace") << "REPLACE INTO runs VALUES (9, 'x')";
    QTest::newRow("second statement") << "select 1; DELETE FROM runs";
}

void tst_RunSql::serverRefusesWritesInReadOnlyMode()
{
    QFETCH(QString, text);
    Runner r(m_folder.path());
    // Writable and back: the session follows the mode both ways.
    r.setWritable(true);
    r.setWritable(false);
    r.run(text);
    QVERIFY(r.prompts.messages.isEmpty()); // the text guard let it through
    QCOMPARE(r.page(), QStringLiteral("MsgPage"));
    QCOMPARE(r.messageColour(), QColor(Qt::red));
    QVERIFY2(r.message()->toPlainText().contains(QStringLiteral("READ ONLY")),
             qPrintable(r.message()->toPlainText()));
    // Said in the program's words before the server's: the mode, and how to switch (after the
    // number of the statement, in a text of several).
    const QString said = r.message()->toPlainText();
    QVERIFY2(said.indexOf(QStringLiteral("当前为只读模式")) >= 0 &&
                 said.indexOf(QStringLiteral("当前为只读模式")) <
                     said.indexOf(QStringLiteral("READ ONLY")) &&
                 r.message()->toPlainText().contains(QStringLiteral("Ctrl+Alt+W")),
             qPrintable(r.message()->toPlainText()));
    QCOMPARE(rowsInTable(), 3);

    // A text that would turn the session writable is refused like the forbidden fragments.
    r.setWritable(true);
    r.setWritable(false);
    r.run(QStringLiteral("select 1; SET SESSION TRANSACTION READ WRITE"));
    QCOMPARE(r.prompts.messages.size(), 1);
    QCOMPARE(r.prompts.messages[0].text, kRefusal);
    r.run(QStringLiteral("DELETE FROM runs"));
    QVERIFY(r.message()->toPlainText().contains(QStringLiteral("READ ONLY")));
    QCOMPARE(rowsInTable(), 3);
}

void tst_RunSql::severalStatements()
{
    Runner r(m_folder.path());
    r.setWritable(true);
    r.run(QStringLiteral("update runs set note = 'a' where id = 1;\n"
                         "update runs set note = 'b' where id > 1;"));
    QCOMPARE(r.message()->toPlainText(), affected(3));
    r.run(QStringLiteral("select id from runs; select 1, 2"));
    QCOMPARE(r.grid()->columnCount(), 1);
    QCOMPARE(r.grid()->rowCount(), 3);
    // An error part-way: what ran before it stays done, the error shows in red.
    r.run(QStringLiteral("delete from runs where id = 1; delete from nowhere; delete from runs"));
    QCOMPARE(r.messageColour(), QColor(Qt::red));
    QCOMPARE(rowsInTable(), 2);
    // The message names the statement that failed and what ran before it.
    const QString message = r.message()->toPlainText();
    QVERIFY2(
        message.startsWith(QStringLiteral("第 2 条语句执行失败：")) &&
            message.contains(QStringLiteral("nowhere")) &&
            message.endsWith(QStringLiteral("\n此前的 1 条语句已执行，共影响了 1 条数据库记录。")),
        qPrintable(message));
    // The first statement failing: the server's message alone.
    r.run(QStringLiteral("delete from nowhere; delete from runs"));
    QVERIFY2(!r.message()->toPlainText().startsWith(QStringLiteral("第")),
             qPrintable(r.message()->toPlainText()));
    QCOMPARE(rowsInTable(), 2);
}

void tst_RunSql::notConnectedEveryTime_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("reason"); // in the box's second line
    const test::TestDb db = test::testDb();
    QTest::newRow("wrong password") << "wrong" << db.port << "Access denied";
    QTest::newRow("server not running") << db.password << 9 << "Can't connect";
}

void tst_RunSql::notConnectedEveryTime()
{
    QFETCH(QString, password);
    QFETCH(int, port);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    test::TestDb db = test::testDb();
    db.password = password;
    db.port = port;
    QVERIFY(test::writeConnectionConfig(dir.path(), db));
    Runner r(dir.path());
    QVERIFY(!r.form->connection().isOpen());
    for (const QString& text : {QStringLiteral("select 1"), QStringLiteral("show tables")}) {
        r.run(text);
        // The specified sentence first, then why and where.
        const QStringList lines = r.prompts.messages.last().text.split(u'\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], kNotConnected);
        QVERIFY2(lines[1].contains(reason), qPrintable(lines[1]));
        QVERIFY2(
            lines[1].endsWith(
                QStringLiteral("（%1:%2，数据库 %3）").arg(db.host).arg(port).arg(db.database)),
            qPrintable(lines[1]));
        QCOMPARE(r.prompts.messages.last().caption, QStringLiteral("提示"));
        QCOMPARE(r.prompts.messages.last().icon, QMessageBox::Critical);
        QVERIFY(!r.exportShown());
    }
    QCOMPARE(r.prompts.messages.size(), 2);
    // The guard comes first.
    r.run(QStringLiteral("drop table runs"));
    QCOMPARE(r.prompts.messages.last().text, kRefusal);
}

void tst_RunSql::lostConnectionIsRestored()
{
    Runner r(m_folder.path());
    r.run(QStringLiteral("select connection_id()"));
    const QString id = r.grid()->index(0, 0).data().toString();
    exec(QStringLiteral("KILL CONNECTION ") + id);

    r.run(QStringLiteral("select * from runs"));
    QCOMPARE(r.page(), QStringLiteral("MsgPage"));
    QCOMPARE(r.messageColour(), QColor(Qt::red));
    QVERIFY(!r.message()->toPlainText().isEmpty());

    // The next run connects again, says so first, and runs in the mode the window shows.
    r.run(QStringLiteral("select connection_id()"));
    QVERIFY2(r.page() == QStringLiteral("GridPage"), qPrintable(r.message()->toPlainText()));
    QVERIFY(r.grid()->index(0, 0).data().toString() != id);
    QVERIFY2(r.status().startsWith(kReconnected), qPrintable(r.status()));
    QVERIFY(r.prompts.messages.isEmpty());
    r.run(QStringLiteral("call wipe_runs()"));
    QVERIFY2(r.message()->toPlainText().contains(QStringLiteral("READ ONLY")),
             qPrintable(r.message()->toPlainText()));
    QVERIFY(!r.message()->toPlainText().startsWith(kReconnected)); // said once
    QCOMPARE(rowsInTable(), 3);
}

// The session's state goes with a lost connection; the run that connects again says so, and
// nothing of the old transaction is committed by it.
void tst_RunSql::reconnectIsNeverSilent_data()
{
    QTest::addColumn<QString>("before");   // run on the session that is then killed
    QTest::addColumn<QString>("after");    // run until it runs on a new session
    QTest::addColumn<QString>("expected"); // the outcome after the notice
    QTest::newRow("open transaction, then COMMIT")
        << "START TRANSACTION; UPDATE runs SET note = 'lost' WHERE id = 1"
        << "COMMIT" << affected(0);
    QTest::newRow("USE, then a query") << "use information_schema"
                                       << "select database()"
                                       << "";
}

void tst_RunSql::reconnectIsNeverSilent()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(QString, expected);
    Runner r(m_folder.path());
    r.setWritable(true);
    r.run(before);
    QCOMPARE(r.messageColour(), r.message()->palette().color(QPalette::Text));
    exec(QStringLiteral("KILL CONNECTION %1").arg(r.form->connection().serverThreadId()));
    // The first run after the kill may only find the connection gone.
    r.run(after);
    if (r.form->connection().lost())
        r.run(after);
    if (expected.isEmpty()) {
        QVERIFY2(r.status().startsWith(kReconnected), qPrintable(r.status()));
        QCOMPARE(r.grid()->index(0, 0).data().toString(), test::testDb().database);
    } else {
        QCOMPARE(r.message()->toPlainText(), kReconnected + u'\n' + expected);
    }
    QCOMPARE(test::firstCell(m_admin, QStringLiteral("SELECT note FROM runs WHERE id = 1")),
             QStringLiteral("一").toUtf8());
}

// Read-only mode can't be switched on under an open transaction, which would stay writable.
void tst_RunSql::openTransactionKeepsWritableMode()
{
    Runner r(m_folder.path());
    r.setWritable(true);
    r.run(QStringLiteral("START TRANSACTION; UPDATE runs SET note = 'pending' WHERE id = 2"));
    r.trigger("actModal");
    QVERIFY(r.writable());
    QCOMPARE(r.prompts.messages.size(), 1);
    QCOMPARE(r.prompts.messages[0].text,
             QStringLiteral("当前有未提交的事务，请先提交（COMMIT）或回滚（ROLLBACK）后再切换到只读"
                            "模式。"));
    QCOMPARE(r.prompts.messages[0].caption, QStringLiteral("岚拓数据库执行工具"));
    QCOMPARE(r.prompts.messages[0].icon, QMessageBox::Information);
    r.run(QStringLiteral("ROLLBACK"));
    r.trigger("actModal");
    QVERIFY(!r.writable());
    QCOMPARE(r.prompts.messages.size(), 1);
    QCOMPARE(test::firstCell(m_admin, QStringLiteral("SELECT note FROM runs WHERE id = 2")),
             QByteArray("two"));
}

// Texts on the command path that return rows: the rows are shown, not dropped.
void tst_RunSql::commandRowsAreShown_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("firstCell");
    QTest::newRow("desc") << "desc runs" << 2 << "id";
    QTest::newRow("describe") << "DESCRIBE runs" << 2 << "id";
    QTest::newRow("explain") << "explain select * from runs" << 1 << "1";
    QTest::newRow("with ... select") << "with t as (select 5 as a) select * from t" << 1 << "5";
    QTest::newRow("select after a comment")
        << "-- the runs\nselect * from runs order by id" << 3 << "1";
    QTest::newRow("call of a procedure that selects") << "call list_runs()" << 3 << "1";
}

void tst_RunSql::commandRowsAreShown()
{
    QFETCH(QString, text);
    QFETCH(int, rows);
    QFETCH(QString, firstCell);
    Runner r(m_folder.path());
    r.run(text);
    QCOMPARE(r.page(), QStringLiteral("GridPage"));
    QCOMPARE(r.grid()->rowCount(), rows);
    QCOMPARE(r.grid()->index(0, 0).data().toString(), firstCell);
    QVERIFY2(kQueryStatus.match(r.status()).hasMatch(), qPrintable(r.status()));
    QVERIFY(r.exportShown());
    QVERIFY(r.prompts.messages.isEmpty());
}

void tst_RunSql::errorLineIsMarked_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("selection"); // run lines 5 to the end as the selection
    QTest::addColumn<int>("marked");     // editor line, 0-based; -1: none
    // The server counts from the first line of what it got: after the trimmed blank lines.
    QTest::newRow("whole text after blank lines") << "\r\n\r\nselect 1,\r\n  from runs\r\n"
                                                  << false << 3;
    QTest::newRow("selection from line 5")
        << "select 1;\r\n-- 2\r\n-- 3\r\n-- 4\r\nselect 1,\r\n  from\r\n  runs" << true << 5;
    QTest::newRow("an error without a line") << "select * from nowhere" << false << -1;
}

void tst_RunSql::errorLineIsMarked()
{
    QFETCH(QString, text);
    QFETCH(bool, selection);
    QFETCH(int, marked);
    Runner r(m_folder.path());
    auto* editor = r.child<SqlEditor>(QStringLiteral("mmoScript"));
    editor->setText(text);
    if (selection) {
        editor->setSelection(4, 0, editor->lines() - 1, 6);
        r.trigger("actRunSel");
    } else {
        r.trigger("actRun");
    }
    QCOMPARE(r.messageColour(), QColor(Qt::red));
    QCOMPARE(editor->errorLine(), marked);
    if (marked >= 0) {
        int line = -1, index = -1;
        editor->getCursorPosition(&line, &index);
        QCOMPARE(line, marked);
        // Gone at the next run.
        editor->setText(QStringLiteral("select 1"));
        r.trigger("actRun");
        QCOMPARE(editor->errorLine(), -1);
    }
}

void tst_RunSql::f6MovesTheFocus()
{
    Runner r(m_folder.path());
    QVERIFY(QTest::qWaitForWindowActive(r.form.get()));
    r.editor()->setFocus();
    QTest::keyClick(r.editor(), Qt::Key_F6);
    QTRY_VERIFY(r.child<QTableView>(QStringLiteral("grdResult"))->hasFocus());
    QTest::keyClick(r.child<QTableView>(QStringLiteral("grdResult")), Qt::Key_F6);
    QTRY_VERIFY(r.editor()->hasFocus());
    r.run(QStringLiteral("do 1")); // the message page shows
    r.editor()->setFocus();
    QTest::keyClick(r.editor(), Qt::Key_F6);
    QTRY_VERIFY(r.message()->hasFocus());
    QCOMPARE(r.editor()->accessibleName(), QStringLiteral("SQL脚本"));
    QCOMPARE(r.message()->accessibleName(), QStringLiteral("执行结果"));
}

QTEST_MAIN(tst_RunSql)
#include "tst_RunSql.moc"
