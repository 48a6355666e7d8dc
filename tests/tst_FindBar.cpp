// Find and replace and go-to-line in the real window's editor, from the keys: the bar shows under
// the editor only when asked, finds with and without case, whole words and regular expressions,
// forwards and backwards, replaces one or all (one undo step), and closes with Esc.

#include "FindBar.h"
#include "MainWindowFixture.h"
#include "SqlEditor.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

using namespace quarvel;

namespace {

struct Window : test::StartedWindow
{
    explicit Window(const QString& folder)
        : StartedWindow(folder)
    {
        if (!QTest::qWaitForWindowActive(form.get()))
            qWarning("the window did not become active");
        editor()->setText(QStringLiteral("select a1 from t;\r\nSELECT a22 from t;\r\n"
                                         "select selection from t;"));
        editor()->setCursorPosition(0, 0);
        editor()->setFocus();
    }
    SqlEditor* editor() const { return child<SqlEditor>(QStringLiteral("mmoScript")); }
    FindBar* bar() const { return child<FindBar>(QStringLiteral("barFind")); }
    // Where the selection (the match) starts, as line and index.
    QPoint found() const
    {
        int lineFrom = -1, indexFrom = -1, lineTo = -1, indexTo = -1;
        editor()->getSelection(&lineFrom, &indexFrom, &lineTo, &indexTo);
        return {indexFrom, lineFrom};
    }
};

} // namespace

class tst_FindBar : public QObject
{
    Q_OBJECT

private slots:
    void hiddenAtRest();
    void find_data();
    void find();
    void nextAndPrevious();
    void replaceOneAndAll();
    void goToLine();

private:
    QTemporaryDir m_folder;
};

void tst_FindBar::hiddenAtRest()
{
    Window w(m_folder.path());
    QVERIFY(!w.bar()->isVisible());
    QTest::keyClick(w.editor(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(w.bar()->isVisible());
    QVERIFY(w.bar()->findField()->hasFocus());
    QVERIFY(!w.bar()->replaceField()->isVisible());
    QTest::keyClick(w.bar()->findField(), Qt::Key_Escape);
    QVERIFY(!w.bar()->isVisible());
    QVERIFY(w.editor()->hasFocus());
}

void tst_FindBar::find_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<bool>("wholeWord");
    QTest::addColumn<bool>("regex");
    QTest::addColumn<QPoint>("first"); // index, line; (-1, -1): none
    QTest::newRow("plain, any case") << "SELECT" << false << false << false << QPoint(0, 0);
    QTest::newRow("matching case") << "SELECT" << true << false << false << QPoint(0, 1);
    QTest::newRow("whole word") << "select" << false << true << false << QPoint(0, 0);
    QTest::newRow("part of a word") << "lection" << false << false << false << QPoint(9, 2);
    QTest::newRow("whole word, none") << "lection" << false << true << false << QPoint(-1, -1);
    QTest::newRow("regular expression") << "a[0-9]{2}" << false << false << true << QPoint(7, 1);
}

void tst_FindBar::find()
{
    QFETCH(QString, text);
    QFETCH(bool, matchCase);
    QFETCH(bool, wholeWord);
    QFETCH(bool, regex);
    QFETCH(QPoint, first);
    Window w(m_folder.path());
    QTest::keyClick(w.editor(), Qt::Key_F, Qt::ControlModifier);
    w.bar()->matchCase()->setChecked(matchCase);
    w.bar()->wholeWord()->setChecked(wholeWord);
    w.bar()->regularExpression()->setChecked(regex);
    QTest::keyClicks(w.bar()->findField(), text);
    QTest::keyClick(w.bar()->findField(), Qt::Key_Return);
    if (first.x() < 0)
        QVERIFY(!w.editor()->hasSelectedText());
    else
        QCOMPARE(w.found(), first);
}

void tst_FindBar::nextAndPrevious()
{
    Window w(m_folder.path());
    QTest::keyClick(w.editor(), Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(w.bar()->findField(), QStringLiteral("from"));
    QTest::keyClick(w.bar()->findField(), Qt::Key_Return);
    QCOMPARE(w.found(), QPoint(10, 0));
    w.editor()->setFocus();
    QTest::keyClick(w.editor(), Qt::Key_F3);
    QCOMPARE(w.found(), QPoint(11, 1));
    QTest::keyClick(w.editor(), Qt::Key_F3);
    QCOMPARE(w.found(), QPoint(17, 2));
    QTest::keyClick(w.editor(), Qt::Key_F3); // round to the first again
    QCOMPARE(w.found(), QPoint(10, 0));
    QTest::keyClick(w.editor(), Qt::Key_F3, Qt::ShiftModifier); // and back
    QCOMPARE(w.found(), QPoint(17, 2));
}

void tst_FindBar::replaceOneAndAll()
{
    Window w(m_folder.path());
    const QString original = w.editor()->text();
    QTest::keyClick(w.editor(), Qt::Key_H, Qt::ControlModifier);
    QVERIFY(w.bar()->replaceField()->isVisible());
    QTest::keyClicks(w.bar()->findField(), QStringLiteral("from t"));
    QTest::keyClicks(w.bar()->replaceField(), QStringLiteral("from runs"));
    QVERIFY(w.bar()->replaceCurrent()); // finds the first
    QVERIFY(w.bar()->replaceCurrent()); // replaces it, finds the next
    QVERIFY(w.editor()->text().startsWith(QStringLiteral("select a1 from runs;")));
    QCOMPARE(w.bar()->replaceAll(), 2);
    QCOMPARE(w.editor()->text().count(QStringLiteral("from runs")), 3);
    w.editor()->undo(); // all of them, at once
    QCOMPARE(w.editor()->text().count(QStringLiteral("from runs")), 1);
    w.editor()->undo();
    QCOMPARE(w.editor()->text(), original);
}

void tst_FindBar::goToLine()
{
    Window w(m_folder.path());
    w.prompts.lineAnswers << 3;
    QTest::keyClick(w.editor(), Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(w.prompts.lineQuestions.size(), 1);
    QCOMPARE(w.prompts.lineQuestions.first(), qMakePair(1, 3));
    int line = -1, index = -1;
    w.editor()->getCursorPosition(&line, &index);
    QCOMPARE(line, 2);
}

QTEST_MAIN(tst_FindBar)
#include "tst_FindBar.moc"
