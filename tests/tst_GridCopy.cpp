// Copying from the result grid of the real window: the selection of any shape as tab-separated
// text, whole values, NULL empty, binary in hex, quoting as spreadsheets read it, with and
// without the column names, from the keys and from the context menu.

#include "MainWindowFixture.h"
#include "TestSupport.h"

#include <Qsci/qsciscintilla.h>

#include <QApplication>
#include <QClipboard>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace quarvel;

Q_DECLARE_METATYPE(QList<QRect>)

class tst_GridCopy : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void copy_data();
    void copy();
    void contextMenuOffersCopies();

private:
    QTemporaryDir m_folder;
    std::unique_ptr<test::StartedWindow> m_window;
    QTableView* m_grid = nullptr;
};

void tst_GridCopy::initTestCase()
{
    QVERIFY(test::writeConnectionConfig(m_folder.path(), test::testDb()));
    db::Connection admin;
    admin.open(test::testDbParams());
    test::execSql(admin, QStringLiteral("DROP TABLE IF EXISTS copied"));
    test::execSql(admin, QStringLiteral("CREATE TABLE copied (id INT, note VARCHAR(6000),"
                                        " b VARBINARY(4))"));
    test::execSql(admin, QStringLiteral("INSERT INTO copied VALUES (1, 'plain', x'00FF'),"
                                        " (2, 'tab\\there', NULL), (3, 'line\\nbreak', x''),"
                                        " (4, 'say \"hi\"', x'41'), (5, NULL, NULL),"
                                        " (6, CONCAT('中文', REPEAT('长', 5000)), x'01')"));
    m_window = std::make_unique<test::StartedWindow>(m_folder.path());
    QVERIFY(QTest::qWaitForWindowActive(m_window->form.get()));
    m_window->child<QsciScintilla>(QStringLiteral("mmoScript"))
        ->setText(QStringLiteral("select * from copied order by id"));
    m_window->trigger("actRun");
    m_grid = m_window->child<QTableView>(QStringLiteral("grdResult"));
    QCOMPARE(m_grid->model()->rowCount(), 6);
}

void tst_GridCopy::copy_data()
{
    QTest::addColumn<QList<QRect>>("ranges"); // cells: x column, y row
    QTest::addColumn<bool>("withNames");
    QTest::addColumn<QString>("text");
    const QString longText = QStringLiteral("中文") + QString(5000, QChar(0x957F));
    QTest::newRow("one cell") << QList<QRect>{{1, 0, 1, 1}} << false << "plain\n";
    QTest::newRow("a block, a tab quoted")
        << QList<QRect>{{0, 0, 2, 2}} << false << "1\tplain\n2\t\"tab\there\"\n";
    QTest::newRow("a row: line break quoted, empty binary")
        << QList<QRect>{{0, 2, 3, 1}} << false << "3\t\"line\nbreak\"\t0x\n";
    QTest::newRow("quotes doubled, binary in hex")
        << QList<QRect>{{1, 3, 2, 1}} << false << "\"say \"\"hi\"\"\"\t0x41\n";
    QTest::newRow("NULL is empty") << QList<QRect>{{0, 4, 3, 1}} << false << "5\t\t\n";
    QTest::newRow("two cells apart: the cells between are empty")
        << QList<QRect>{{0, 0, 1, 1}, {2, 3, 1, 1}} << false << "1\t\n\t0x41\n";
    QTest::newRow("a column with its name")
        << QList<QRect>{{2, 0, 1, 2}} << true << "b\n0x00FF\n\n";
    QTest::newRow("whole values, not the grid's shortened one")
        << QList<QRect>{{1, 5, 1, 1}} << false << longText + u'\n';
}

void tst_GridCopy::copy()
{
    QFETCH(QList<QRect>, ranges);
    QFETCH(bool, withNames);
    QFETCH(QString, text);
    QItemSelection selection;
    for (const QRect& r : ranges)
        selection.select(m_grid->model()->index(r.top(), r.left()),
                         m_grid->model()->index(r.bottom(), r.right()));
    m_grid->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    m_grid->setFocus();
    QApplication::clipboard()->clear();
    QTest::keyClick(m_grid, Qt::Key_C,
                    withNames ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), text);
}

void tst_GridCopy::contextMenuOffersCopies()
{
    QStringList captions;
    for (const QAction* action : m_grid->actions())
        captions << action->text();
    QCOMPARE(captions, (QStringList{QStringLiteral("复制"), QStringLiteral("复制（含列名）"),
                                    QStringLiteral("全选")}));
    QCOMPARE(m_grid->contextMenuPolicy(), Qt::ActionsContextMenu);
    // Select all, then copy with the names: every row under the header.
    m_grid->actions().at(2)->trigger();
    m_grid->actions().at(1)->trigger();
    const QStringList lines = QApplication::clipboard()->text().split(u'\n');
    QCOMPARE(lines.first(), QStringLiteral("id\tnote\tb"));
    QCOMPARE(lines.size(), 1 + 6 + 2); // header, six rows (one holding a line break), the end
}

QTEST_MAIN(tst_GridCopy)
#include "tst_GridCopy.moc"
