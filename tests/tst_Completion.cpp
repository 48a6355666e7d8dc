// Completion with the connected database's own names, read in the background by the real
// window: tables after the styler's words, a table's columns after "table." and "alias.", and
// the names read again after a statement that creates a table.

#include "MainWindowFixture.h"
#include "SqlEditor.h"
#include "TestSupport.h"

#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace quarvel;

namespace {

QStringList listShown(SqlEditor* editor)
{
    // A list closed before may linger until deleted: the one shown is the last made.
    QStringList items;
    const QList<QListWidget*> lists = editor->findChildren<QListWidget*>();
    if (!lists.isEmpty() && editor->isListActive())
        for (int row = 0; row < lists.last()->count(); ++row)
            items << lists.last()->item(row)->text();
    return items;
}

// Types `text` at the end and opens the list as Ctrl+Space does.
QStringList completeAt(SqlEditor* editor, const QString& before, const QString& after = {})
{
    editor->SendScintilla(QsciScintilla::SCI_AUTOCCANCEL);
    editor->setText(before + after);
    editor->SendScintilla(QsciScintilla::SCI_GOTOPOS, long(before.toUtf8().size()));
    editor->showCompletion();
    return listShown(editor);
}

} // namespace

class tst_Completion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void namesOfTheDatabase();
    void namesReadAgainAfterCreate();
    void noListWhereThereIsNoScreen();

private:
    QTemporaryDir m_folder;
    db::Connection m_admin;
};

void tst_Completion::initTestCase()
{
    QVERIFY(test::writeConnectionConfig(m_folder.path(), test::testDb()));
    m_admin.open(test::testDbParams());
    test::execSql(m_admin, QStringLiteral("DROP TABLE IF EXISTS comp_orders, comp_customers,"
                                          " comp_new"));
    test::execSql(m_admin, QStringLiteral("CREATE TABLE comp_orders (id INT, amount DECIMAL(8,2),"
                                          " customer INT)"));
    test::execSql(m_admin, QStringLiteral("CREATE TABLE comp_customers (cid INT, name TEXT)"));
}

void tst_Completion::namesOfTheDatabase()
{
    test::StartedWindow w(m_folder.path());
    w.form->move(0, 0); // the list shows only where there is a screen
    auto* editor = w.child<SqlEditor>(QStringLiteral("mmoScript"));
    // Read in the background after connecting.
    QTRY_VERIFY(completeAt(editor, QStringLiteral("select * from comp_or"))
                    .contains(QStringLiteral("comp_orders")));
    const QStringList all = completeAt(editor, QString());
    QCOMPARE(all.first(), QStringLiteral("add")); // the styler's words come first
    QVERIFY(all.indexOf(QStringLiteral("comp_customers")) >
            all.indexOf(QStringLiteral("zerofill")));

    QCOMPARE(
        completeAt(editor, QStringLiteral("select comp_orders.")),
        (QStringList{QStringLiteral("id"), QStringLiteral("amount"), QStringLiteral("customer")}));
    QCOMPARE(
        completeAt(editor, QStringLiteral("select o."), QStringLiteral(" from comp_orders o")),
        (QStringList{QStringLiteral("id"), QStringLiteral("amount"), QStringLiteral("customer")}));
    QCOMPARE(completeAt(editor, QStringLiteral("select c."),
                        QStringLiteral(" from comp_orders o join comp_customers as c on 1")),
             (QStringList{QStringLiteral("cid"), QStringLiteral("name")}));

    // Typing "." after a table opens its columns at once.
    editor->SendScintilla(QsciScintilla::SCI_AUTOCCANCEL);
    editor->setText(QStringLiteral("select "));
    editor->SendScintilla(QsciScintilla::SCI_DOCUMENTEND);
    editor->setFocus();
    QTest::keyClicks(editor, QStringLiteral("comp_customers."));
    QCOMPARE(listShown(editor), (QStringList{QStringLiteral("cid"), QStringLiteral("name")}));
}

void tst_Completion::namesReadAgainAfterCreate()
{
    test::StartedWindow w(m_folder.path());
    w.form->move(0, 0); // the list shows only where there is a screen
    auto* editor = w.child<SqlEditor>(QStringLiteral("mmoScript"));
    QTRY_VERIFY(
        completeAt(editor, QStringLiteral("comp_or")).contains(QStringLiteral("comp_orders")));
    QVERIFY(!completeAt(editor, QStringLiteral("comp_n")).contains(QStringLiteral("comp_new")));
    w.trigger("actModal"); // writable
    editor->setText(QStringLiteral("create table comp_new (x int)"));
    w.trigger("actRun");
    QTRY_VERIFY(completeAt(editor, QStringLiteral("comp_n")).contains(QStringLiteral("comp_new")));
    QCOMPARE(completeAt(editor, QStringLiteral("comp_new.")), QStringList{QStringLiteral("x")});
}

// QScintilla places its list on the screen under the caret, and crashes when there is none.
void tst_Completion::noListWhereThereIsNoScreen()
{
    test::StartedWindow w(m_folder.path());
    w.form->move(-5000, -5000);
    auto* editor = w.child<SqlEditor>(QStringLiteral("mmoScript"));
    editor->setText(QStringLiteral("sel"));
    editor->SendScintilla(QsciScintilla::SCI_DOCUMENTEND);
    editor->showCompletion();
    QVERIFY(!editor->isListActive());
}

QTEST_MAIN(tst_Completion)
#include "tst_Completion.moc"
