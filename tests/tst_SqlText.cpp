// The text rules of the run actions: trimming, the read-only guard, query classification and the
// backslash rewriting of queries.

#include "SqlText.h"

#include <QTest>

using namespace quarvel;

class tst_SqlText : public QObject
{
    Q_OBJECT

private slots:
    void trim_data();
    void trim();
    void readOnlyGuard_data();
    void readOnlyGuard();
    void classify_data();
    void classify();
    void rewrite_data();
    void rewrite();
};

void tst_SqlText::trim_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("blanks before a query") << "   select * from t"
                                           << "select * from t";
    QTest::newRow("tabs and line breaks") << "\t\r\nselect 1;\r\n\t "
                                          << "select 1;";
    QTest::newRow("other control characters") << QStringLiteral("\x01\x1f"
                                                                "a\x7f\x02")
                                              << QStringLiteral("a\x7f");
    QTest::newRow("inner blanks kept") << " a  b "
                                       << "a  b";
    QTest::newRow("only blanks and breaks") << " \r\n \n\t"
                                            << "";
    QTest::newRow("ideographic space is not a control")
        << QStringLiteral("\u3000选择\u3000") << QStringLiteral("\u3000选择\u3000");
}

void tst_SqlText::trim()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(trimControl(text), expected);
}

void tst_SqlText::readOnlyGuard_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("refused");
    QTest::newRow("delete") << "delete from t" << true;
    QTest::newRow("update") << "update t set a=1" << true;
    QTest::newRow("insert") << "insert into t values (1)" << true;
    QTest::newRow("truncate") << "truncate table t" << true;
    QTest::newRow("drop") << "drop table t" << true;
    QTest::newRow("create") << "create table t (a int)" << true;
    QTest::newRow("upper case passes") << "DELETE FROM t" << false;
    QTest::newRow("line break after keyword") << "delete\nfrom t" << false;
    QTest::newRow("fragment inside a literal")
        << "select * from t where note = 'drop here'" << true;
    QTest::newRow("keyword at the very end") << "select 1 -- delete" << false;
    QTest::newRow("plain select") << "select * from t" << false;
    QTest::newRow("part of a word") << "select deleted from t" << false;
    QTest::newRow("ends a longer word") << "select undelete from t" << true;
    QTest::newRow("ends a word") << "select x as recreate from t" << true;
    // Back to writing, which the server's read-only session would otherwise allow.
    QTest::newRow("read write") << "SET SESSION TRANSACTION READ WRITE" << true;
    QTest::newRow("read write, other blanks and case") << "start transaction Read\n\tWrite" << true;
    QTest::newRow("tx_read_only") << "set @@TX_READ_ONLY = 0" << true;
    QTest::newRow("transaction_read_only") << "SET SESSION transaction_read_only=OFF" << true;
    QTest::newRow("read and write apart") << "select 'read' as w, 'write' as r" << false;
    QTest::newRow("read_write as a name") << "select read_write from t" << false;
}

void tst_SqlText::readOnlyGuard()
{
    QFETCH(QString, text);
    QFETCH(bool, refused);
    QCOMPARE(isRefusedInReadOnly(text), refused);
}

void tst_SqlText::classify_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("query");
    QTest::newRow("select") << "select * from t" << true;
    QTest::newRow("upper case") << "SELECT * FROM t" << true;
    QTest::newRow("mixed case, no blank") << "Select1" << true;
    QTest::newRow("exactly six") << "sElEcT" << true;
    QTest::newRow("shorter") << "sel" << false;
    QTest::newRow("parenthesised") << "(select 1)" << false;
    QTest::newRow("show") << "show tables" << false;
    QTest::newRow("desc") << "desc t" << false;
    QTest::newRow("call") << "call p()" << false;
}

void tst_SqlText::classify()
{
    QFETCH(QString, text);
    QFETCH(bool, query);
    QCOMPARE(isQueryText(text), query);
}

void tst_SqlText::rewrite_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("sent");
    QTest::newRow("one backslash") << R"(select 'a\b')"
                                   << R"(select 'a\\b')";
    QTest::newRow("escaped apostrophe") << R"(select 'it\'s')"
                                        << R"(select 'it\\\\'s')";
    QTest::newRow("backslashes before an apostrophe") << R"(select '\\')"
                                                      << R"(select '\\\\\\')";
    QTest::newRow("update inside a literal") << R"(select 'update x', 'a\b')"
                                             << R"(select 'update x', 'a\b')";
    QTest::newRow("insert") << R"(select 'insert \n')"
                            << R"(select 'insert \n')";
    QTest::newRow("delete") << R"(select 1 from t where a='delete \')"
                            << R"(select 1 from t where a='delete \')";
    QTest::newRow("upper case keyword still rewritten") << R"(select 'UPDATE \')"
                                                        << R"(select 'UPDATE \\\\')";
    QTest::newRow("no backslash") << "select '表'"
                                  << "select '表'";
    QTest::newRow("Chinese beside a backslash")
        << QStringLiteral("select '表\\n'") << QStringLiteral("select '表\\\\n'");
}

void tst_SqlText::rewrite()
{
    QFETCH(QString, text);
    QFETCH(QString, sent);
    QCOMPARE(rewriteBackslashes(text), sent);
}

QTEST_APPLESS_MAIN(tst_SqlText)
#include "tst_SqlText.moc"
