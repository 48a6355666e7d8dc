// Statements run in the background of the real window against the real server: the window
// stays live, nothing is queued behind a run, and a run is stopped by Esc or the stop button —
// on a live server with KILL QUERY, on a frozen one by abandoning the connection — and when the
// window closes.

#include "Connection.h"
#include "MainWindowFixture.h"
#include "Statement.h"
#include "TcpRelay.h"
#include "TestSupport.h"

#include <Qsci/qsciscintilla.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace quarvel;

namespace {

const QString kRunning = QStringLiteral("正在执行SQL语句，请稍候 ...");

struct Window : test::StartedWindow
{
    explicit Window(const QString& folder)
        : StartedWindow(folder)
    {
        // Shortcuts reach only the active window.
        if (!QTest::qWaitForWindowActive(form.get()))
            qWarning("the window did not become active");
    }

    QsciScintilla* editor() const { return child<QsciScintilla>(QStringLiteral("mmoScript")); }
    // Starts the text with Ctrl+R, as the user does, without waiting for it.
    void start(const QString& text)
    {
        editor()->setText(text);
        editor()->setFocus();
        QTest::keyClick(editor(), Qt::Key_R, Qt::ControlModifier);
    }
    QString page() const
    {
        return child<QStackedWidget>(QStringLiteral("nbMain"))->currentWidget()->objectName();
    }
    QString message() const
    {
        return child<QPlainTextEdit>(QStringLiteral("mmoResult"))->toPlainText();
    }
    QColor messageColour() const
    {
        return child<QPlainTextEdit>(QStringLiteral("mmoResult"))->palette().color(QPalette::Text);
    }
    QString status() const { return child<QLabel>(QStringLiteral("stpResult"))->text(); }
    QPushButton* stopButton() const { return child<QPushButton>(QStringLiteral("btnStop")); }
    // Whether each control that must not start anything during a run is enabled.
    QList<bool> controls() const
    {
        QList<bool> states;
        for (const char* name : {"actRun", "actRunSel", "actModal"})
            states << child<QAction>(QLatin1String(name))->isEnabled();
        for (const char* name : {"btnRun", "btnRunSel"})
            states << child<QPushButton>(QLatin1String(name))->isEnabled();
        for (const char* name : {"btnOpenSql", "btnSaveSql", "btnExportFile"})
            states << child<QToolButton>(QLatin1String(name))->isEnabled();
        return states;
    }
};

} // namespace

class tst_StopRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void windowLiveAndLockedDuringRun();
    void pressedTwiceRunsOnce();
    void stop_data();
    void stop();
    void stoppedUpdateLeavesNoPartialWrite();
    void frozenServerIsAbandoned();
    void closingStopsTheStatement();

private:
    int running(const QString& marker);
    QTemporaryDir m_folder;
    db::Connection m_admin;
};

void tst_StopRun::initTestCase()
{
    QVERIFY(test::writeConnectionConfig(m_folder.path(), test::testDb()));
    QVERIFY_THROWS_NO_EXCEPTION(m_admin.open(test::testDbParams()));
    test::execSql(m_admin, QStringLiteral("CREATE TABLE IF NOT EXISTS presses (id INT)"));
}

// Statements of other sessions whose text holds `marker`.
int tst_StopRun::running(const QString& marker)
{
    return test::firstCell(m_admin, QStringLiteral("SELECT COUNT(*) FROM information_schema."
                                                   "PROCESSLIST WHERE INFO LIKE '%%%1%%' AND ID "
                                                   "<> CONNECTION_ID()")
                                        .arg(marker))
        .toInt();
}

void tst_StopRun::windowLiveAndLockedDuringRun()
{
    Window w(m_folder.path());
    const QList<bool> before = w.controls();
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(100);
    w.start(QStringLiteral("select sleep(2)"));
    QVERIFY(w.form->isRunning());
    QCOMPARE(w.status(), kRunning);
    QVERIFY(w.stopButton()->isVisible());
    QCOMPARE(w.stopButton()->text(), QStringLiteral("停止(Esc)"));
    QCOMPARE(w.controls(), QList<bool>(before.size(), false));
    QVERIFY(w.waitForRun());
    // The window's own timers went on while the statement ran.
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    QCOMPARE(w.controls(), before);
    QVERIFY(!w.stopButton()->isVisible());
    QVERIFY2(w.status().startsWith(QStringLiteral("耗时 2.")), qPrintable(w.status()));
}

void tst_StopRun::pressedTwiceRunsOnce()
{
    test::execSql(m_admin, QStringLiteral("DELETE FROM presses"));
    Window w(m_folder.path());
    w.trigger("actModal"); // writable
    w.start(QStringLiteral("INSERT INTO presses VALUES (1); DO SLEEP(1)"));
    QTest::qWait(200);
    QTest::keyClick(w.editor(), Qt::Key_R, Qt::ControlModifier);
    w.child<QPushButton>(QStringLiteral("btnRun"))->click();
    QVERIFY(w.waitForRun());
    QTest::qWait(300); // anything queued would have started by now
    QVERIFY(w.waitForRun());
    QCOMPARE(test::firstCell(m_admin, QStringLiteral("SELECT COUNT(*) FROM presses")),
             QByteArray("1"));
}

void tst_StopRun::stop_data()
{
    QTest::addColumn<bool>("withEsc");
    QTest::addColumn<bool>("query");
    QTest::newRow("Esc stops a command") << true << false;
    QTest::newRow("the button stops a query") << false << true;
}

void tst_StopRun::stop()
{
    QFETCH(bool, withEsc);
    QFETCH(bool, query);
    Window w(m_folder.path());
    const unsigned long connectionId = w.form->connection().serverThreadId();
    const QString marker = QStringLiteral("stop-%1").arg(int(query));
    w.start((query ? QStringLiteral("select sleep(30) as `%1`")
                   : QStringLiteral("do sleep(30) /* %1 */"))
                .arg(marker));
    QTRY_COMPARE(running(marker), 1);
    QElapsedTimer sinceStop;
    sinceStop.start();
    if (withEsc)
        QTest::keyClick(w.editor(), Qt::Key_Escape);
    else
        w.stopButton()->click();
    QVERIFY(w.waitForRun(5000));
    QVERIFY2(sinceStop.elapsed() < 1000, qPrintable(QString::number(sinceStop.elapsed())));
    QCOMPARE(running(marker), 0);

    if (query) {
        // Stopped while its result came: what arrived stays in the grid, and the status says so.
        QCOMPARE(w.page(), QStringLiteral("GridPage"));
        QVERIFY2(w.status().startsWith(QStringLiteral("已停止，已返回 ")), qPrintable(w.status()));
    } else {
        // The server's own error, shown as every error of that runner.
        QCOMPARE(w.page(), QStringLiteral("MsgPage"));
        QCOMPARE(w.messageColour(), QColor(Qt::red));
        QVERIFY2(w.message().contains(QStringLiteral("interrupted")), qPrintable(w.message()));
        QCOMPARE(w.status(), QString());
    }

    // Same connection, no reconnect.
    QCOMPARE(w.form->connection().serverThreadId(), connectionId);
    w.editor()->setText(QStringLiteral("select 5"));
    w.trigger("actRun");
    QCOMPARE(w.page(), QStringLiteral("GridPage"));
    QCOMPARE(w.form->connection().serverThreadId(), connectionId);
}

void tst_StopRun::stoppedUpdateLeavesNoPartialWrite()
{
    test::execSql(m_admin, QStringLiteral("DROP TABLE IF EXISTS slow"));
    test::execSql(m_admin,
                  QStringLiteral("CREATE TABLE slow (id INT PRIMARY KEY, v INT) ENGINE=InnoDB"));
    test::execSql(m_admin, QStringLiteral("INSERT INTO slow SELECT seq, 0 FROM seq_1_to_20"));
    Window w(m_folder.path());
    w.trigger("actModal");
    // Each row takes a quarter of a second: stopped after a second, some rows were changed.
    w.start(QStringLiteral("UPDATE slow SET v = v + 1 WHERE SLEEP(0.25) = 0"));
    QTest::qWait(1000);
    w.stopButton()->click();
    QVERIFY(w.waitForRun(5000));
    QVERIFY2(w.message().contains(QStringLiteral("interrupted")), qPrintable(w.message()));
    QCOMPARE(test::firstCell(m_admin, QStringLiteral("SELECT SUM(v) FROM slow")), QByteArray("0"));
}

void tst_StopRun::frozenServerIsAbandoned()
{
    const test::TestDb db = test::testDb();
    test::TcpRelay relay(db.host, quint16(db.port));
    test::TestDb viaRelay = db;
    viaRelay.port = relay.port();
    QTemporaryDir folder;
    QVERIFY(test::writeConnectionConfig(folder.path(), viaRelay));
    Window w(folder.path());
    QVERIFY(w.form->connection().isOpen());
    w.start(QStringLiteral("select sleep(30) as frozen"));
    QTRY_COMPARE(running(QStringLiteral("frozen")), 1);
    relay.freeze();
    QElapsedTimer sinceStop;
    sinceStop.start();
    w.stopButton()->click();
    QVERIFY(w.waitForRun(5000));
    QVERIFY2(sinceStop.elapsed() < 5000, qPrintable(QString::number(sinceStop.elapsed())));
    QCOMPARE(w.page(), QStringLiteral("MsgPage"));
    QCOMPARE(w.messageColour(), QColor(Qt::red));
    QVERIFY(w.form->connection().lost());

    // Back again: the next run connects anew.
    relay.thaw();
    w.editor()->setText(QStringLiteral("select 6"));
    w.trigger("actRun");
    QCOMPARE(w.page(), QStringLiteral("GridPage"));
    QVERIFY(w.form->connection().isOpen());
}

void tst_StopRun::closingStopsTheStatement()
{
    Window w(m_folder.path());
    w.start(QStringLiteral("select sleep(30) as closing"));
    QTRY_COMPARE(running(QStringLiteral("closing")), 1);
    QElapsedTimer closing;
    closing.start();
    w.form->close();
    QVERIFY2(closing.elapsed() < 3000, qPrintable(QString::number(closing.elapsed())));
    QVERIFY(!w.form->isRunning());
    QTRY_COMPARE(running(QStringLiteral("closing")), 0);
}

QTEST_MAIN(tst_StopRun)
#include "tst_StopRun.moc"
