// The SQL colouring as the editor shows it: the style of chosen text for every element, and
// styling that resumes correctly when only part of the document is restyled.

#include "Fonts.h"
#include "SqlEditor.h"
#include "SqlStyler.h"

#include <QTest>

using namespace quarvel;

namespace {

// Style of the byte where `needle` first occurs (after `from`), once the text is styled from where
// styling last stopped (as the editor does after an edit; a start of 0 would restyle everything).
int styleAt(SqlEditor& editor, const QByteArray& needle, qsizetype from = 0)
{
    editor.SendScintilla(QsciScintillaBase::SCI_COLOURISE,
                         editor.SendScintilla(QsciScintillaBase::SCI_GETENDSTYLED), -1L);
    const qsizetype at = editor.text().toUtf8().indexOf(needle, from);
    if (at < 0)
        return -1;
    return int(editor.SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, int(at)));
}

} // namespace

class tst_SqlStyler : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void elements_data();
    void elements();
    void blockCommentFollowsEdits();
    void wordLists();
};

void tst_SqlStyler::elements_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("needle");
    QTest::addColumn<int>("style");

    auto row = [](const char* name, const char* text, const char* needle, int style) {
        QTest::newRow(name) << QString::fromUtf8(text) << QByteArray(needle) << style;
    };
    row("keyword", "select a from t", "select", SqlKeyword);
    row("keyword any case", "SeLeCt a", "SeLeCt", SqlKeyword);
    row("keyword after name", "select a from t", "from", SqlKeyword);
    row("longer word", "selected", "selected", SqlDefault);
    row("completion word is no keyword", "limit 5", "limit", SqlDefault);
    row("chinese name", "select 名称 from 表", "名称", SqlDefault);
    row("keyword after chinese", "select 名称 from 表", "from", SqlKeyword);
    row("backquoted name", "select `order` from t", "order", SqlDefault);

    row("double quoted", "x = \"it's\" and y", "it's", SqlDoubleQuote);
    row("apostrophe inside double quotes", "x = \"it's\" and y", "and", SqlKeyword);
    row("single quoted", "x = 'abc' and y", "abc", SqlSingleQuote);
    row("after single quoted", "x = 'abc' and y", "and", SqlKeyword);
    row("escaped apostrophe", "x = 'it\\'s' and y", "and", SqlKeyword);
    row("chinese string", "x = '中文' and y", "中文", SqlSingleQuote);

    row("comma", "a,b", ",", SqlSymbol);
    row("space", "a b", " ", SqlSymbol);
    row("parenthesis", "f(x)", "(", SqlSymbol);
    row("equals", "a=b", "=", SqlSymbol);
    row("minus", "a-b", "-", SqlSymbol);
    row("slash", "a/b", "/", SqlSymbol);
    row("line end", "a\r\nb", "\r", SqlSymbol);
    row("plus is no symbol", "a+b", "+", SqlDefault);

    row("integer", "x = 42", "42", SqlNumber);
    row("decimal", "x = 1.5e3", "1.5e3", SqlNumber);
    row("decimal point", "x = 1.5e3", ".", SqlNumber);
    row("hex", "x = 0x1F", "0x1F", SqlNumber);
    row("digits in a name", "select t1 from t", "t1", SqlDefault);
    row("name starting with digits", "select 1abc", "1abc", SqlDefault);

    row("apostrophe comment", "a ' note\r\nselect", "note", SqlLineComment);
    row("after apostrophe comment", "a ' note\r\nselect", "select", SqlKeyword);
    row("dash comment", "a -- note 'x\r\nselect", "note", SqlLineComment);
    row("dash comment hides quote", "a -- note 'x\r\nselect", "select", SqlKeyword);
    row("dashes without space", "a --b", "-", SqlSymbol);
    row("hash comment", "a # note", "note", SqlLineComment);
    row("brace comment", "{ note } select", "note", SqlBraceComment);
    row("after brace comment", "{ note } select", "select", SqlKeyword);
    row("c comment", "/* note */ select", "note", SqlCComment);
    row("after c comment", "/* note */ select", "select", SqlKeyword);
    row("c comment over lines", "/* a\r\nselect\r\n*/ from", "select", SqlCComment);
    row("after c comment over lines", "/* a\r\nselect\r\n*/ from", "from", SqlKeyword);
    row("quote in comment", "/* it's */ select", "select", SqlKeyword);

    row("url", "see http://example.org/a?b=1 now", "http", SqlUrl);
    row("url end", "see http://example.org/a?b=1 now", "1", SqlUrl);
    row("after url", "see http://example.org/a?b=1 now", "now", SqlDefault);
    row("www url", "www.example.org", "example", SqlUrl);
    row("url in comment", "-- docs: https://mariadb.com/kb", "mariadb", SqlUrl);
    row("comment around url", "-- docs: https://mariadb.com/kb", "docs", SqlLineComment);
}

void tst_SqlStyler::elements()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, needle);
    QFETCH(int, style);
    SqlEditor editor;
    editor.setText(text);
    QCOMPARE(styleAt(editor, needle), style);
}

// Only changed and shown text is restyled; an opened or closed comment must still reach the
// lines after it.
void tst_SqlStyler::blockCommentFollowsEdits()
{
    SqlEditor editor;
    QString text;
    for (int i = 0; i < 2000; ++i)
        text += QStringLiteral("select %1 from t;\r\n").arg(i);
    editor.setText(text);
    const QByteArray last = "select 1999";
    QCOMPARE(styleAt(editor, last), int(SqlKeyword));

    editor.insertAt(QStringLiteral("/*"), 0, 0);
    QCOMPARE(styleAt(editor, last), int(SqlCComment));
    editor.insertAt(QStringLiteral("*/"), 1000, 0);
    QCOMPARE(styleAt(editor, last), int(SqlKeyword));
    QCOMPARE(styleAt(editor, "select 999 "), int(SqlCComment));
    // Restyling began at line 1000: the comment open there came from the style left before it.
    QCOMPARE(styleAt(editor, "*/"), int(SqlCComment));

    editor.SendScintilla(QsciScintillaBase::SCI_DELETERANGE, 0L, 2L);
    QCOMPARE(styleAt(editor, "select 999 "), int(SqlKeyword));
    QCOMPARE(styleAt(editor, "*/"), int(SqlSymbol));
}

void tst_SqlStyler::wordLists()
{
    const QStringList& keywords = SqlStyler::keywords();
    QCOMPARE(keywords.size(), 51);
    QCOMPARE(keywords.count(QStringLiteral("while")), 2);
    const QStringList& words = SqlStyler::completionWords();
    QCOMPARE(words.size(), 225);
    QCOMPARE(words.first(), QStringLiteral("add"));
    QCOMPARE(words.last(), QStringLiteral("zerofill"));

    // Every keyword is coloured, whatever its case.
    SqlEditor editor;
    editor.setText(keywords.join(u' ').toUpper());
    qsizetype from = 0;
    for (const QString& keyword : keywords) {
        const QByteArray word = keyword.toUpper().toUtf8();
        QVERIFY2(styleAt(editor, word, from) == SqlKeyword, word.constData());
        from = editor.text().toUtf8().indexOf(word, from) + word.size();
    }
}

QTEST_MAIN(tst_SqlStyler)
#include "tst_SqlStyler.moc"
