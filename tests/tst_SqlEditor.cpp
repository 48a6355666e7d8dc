// The script editor as the user meets it: its settings read back from the real QScintilla, the
// looks of the styles, the context menu, completion, auto-correct, parameter hints, smart tabs
// and the gutter's marks.

#include "Fonts.h"
#include "ScriptFile.h"
#include "SqlEditor.h"
#include "SqlStyler.h"
#include "TestSupport.h"

#include <QDropEvent>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <memory>

using namespace quarvel;
using Sci = QsciScintillaBase;

namespace {

QColor fromBgr(long value)
{
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

QString styleFont(const SqlEditor& editor, int style)
{
    QByteArray name(64, '\0');
    editor.SendScintilla(Sci::SCI_STYLEGETFONT, static_cast<unsigned long>(style),
                         static_cast<void*>(name.data()));
    return QString::fromLatin1(name.constData());
}

int stylePixels(const SqlEditor& editor, int style)
{
    const double points = editor.SendScintilla(Sci::SCI_STYLEGETSIZEFRACTIONAL, style) / 100.0;
    return qRound(points * editor.screen()->logicalDotsPerInchY() / 72.0);
}

// Lines holding `marker`, top to bottom.
QList<int> markedLines(const SqlEditor& editor, int marker)
{
    QList<int> lines;
    for (long line = 0;; ++line) {
        line = editor.SendScintilla(Sci::SCI_MARKERNEXT, line, long(1 << marker));
        if (line < 0)
            return lines;
        lines << int(line);
    }
}

struct ShownEditor
{
    SqlEditor editor;
    ShownEditor()
    {
        editor.resize(600, 400);
        editor.show();
    }
};

} // namespace

class tst_SqlEditor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void settings();
    void gutter();
    void styleLooks_data();
    void styleLooks();
    void contextMenuTexts();
    void completion_data();
    void completion();
    void completionListKeepsWordOrder();
    void autoCorrect_data();
    void autoCorrect();
    void parameterHintAfterDelay();
    void smartTabs();
    void modifiedAndActiveLineMarks();
    void saveStripsEditorOnlyWhenWritten();
    void loadKeepsEveryByteAndCanBeUndone();
    void unsavedTextAndErrorLine();
    void dropsAreCopiesAndAltDragSelectsABlock();
};

void tst_SqlEditor::settings()
{
    SqlEditor editor;
    QCOMPARE(editor.lines(), 1);
    QVERIFY(editor.text().isEmpty());
    QVERIFY(editor.IsEditorEmpty());
    QCOMPARE(editor.eolMode(), QsciScintilla::EolWindows);
    QCOMPARE(editor.wrapMode(), QsciScintilla::WrapNone);
    QCOMPARE(editor.tabWidth(), 4);
    QVERIFY(!editor.indentationsUseTabs());
    QCOMPARE(editor.folding(), QsciScintilla::NoFoldStyle);
    QCOMPARE(editor.SendScintilla(Sci::SCI_GETCARETLINEVISIBLE), 0L);
    QCOMPARE(editor.edgeMode(), QsciScintilla::EdgeLine);
    QCOMPARE(editor.edgeColumn(), 80);
    QCOMPARE(editor.edgeColor(), QColor(0xE2, 0xE2, 0xE2));
    QCOMPARE(editor.frameShape(), QFrame::Box);
    QCOMPARE(editor.frameShadow(), QFrame::Plain);
    QCOMPARE(editor.palette().color(QPalette::WindowText), QColor(0xC0, 0xC0, 0xC0));
    QVERIFY(editor.acceptDrops());

    editor.setText(QStringLiteral("x"));
    QVERIFY(!editor.IsEditorEmpty());
    editor.setText(QStringLiteral("\r\n")); // two empty lines
    QVERIFY(!editor.IsEditorEmpty());
}

void tst_SqlEditor::gutter()
{
    SqlEditor editor;
    long total = 0;
    for (int margin = 0; margin < editor.margins(); ++margin)
        total += editor.SendScintilla(Sci::SCI_GETMARGINWIDTHN, margin);
    QCOMPARE(total, 75L);
    QCOMPARE(editor.marginType(SqlEditor::LineNumberMargin), QsciScintilla::NumberMargin);
    const long numbers = editor.SendScintilla(Sci::SCI_GETMARGINWIDTHN, 0);
    QCOMPARE(numbers + editor.SendScintilla(Sci::SCI_GETMARGINWIDTHN, 1), 60L);
    QVERIFY(editor.SendScintilla(Sci::SCI_TEXTWIDTH, long(Sci::STYLE_LINENUMBER), "99999") <=
            numbers);
    QCOMPARE(styleFont(editor, Sci::STYLE_LINENUMBER), QStringLiteral("Courier New"));
    QCOMPARE(stylePixels(editor, Sci::STYLE_LINENUMBER), 13);
    QCOMPARE(fromBgr(editor.SendScintilla(Sci::SCI_GETMARGINBACKN, SqlEditor::BorderMargin)),
             QColor(0xC0, 0xC0, 0xC0));

    // The gradient's steps get lighter from left to right, between its two end colours.
    QList<QColor> steps{
        fromBgr(editor.SendScintilla(Sci::SCI_STYLEGETBACK, long(Sci::STYLE_LINENUMBER)))};
    for (int margin : {SqlEditor::ModifiedMargin, SqlEditor::ActiveLineMargin})
        steps << fromBgr(editor.SendScintilla(Sci::SCI_GETMARGINBACKN, margin));
    const QColor from(0x7D, 0xA5, 0xE0);
    const QColor to(0xCB, 0xE1, 0xFC);
    for (qsizetype i = 0; i < steps.size(); ++i) {
        QVERIFY(steps[i].red() > from.red() && steps[i].red() < to.red());
        if (i > 0)
            QVERIFY(steps[i].red() > steps[i - 1].red());
    }
}

void tst_SqlEditor::styleLooks_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pixels");
    QTest::addColumn<QString>("flags"); // b bold, i italic, u underline
    QTest::addColumn<QColor>("fore");
    const QString courier = QStringLiteral("Courier New");
    const QString text = QStringLiteral("COURIER NEW");
    QTest::newRow("text") << int(SqlDefault) << text << 13 << "" << QColor(Qt::black);
    QTest::newRow("keyword") << int(SqlKeyword) << courier << 11 << "b" << QColor(Qt::blue);
    QTest::newRow("double quote") << int(SqlDoubleQuote) << courier << 11 << "" << QColor(Qt::red);
    QTest::newRow("single quote") << int(SqlSingleQuote) << courier << 11 << "" << QColor(Qt::red);
    QTest::newRow("symbol") << int(SqlSymbol) << courier << 11 << "" << QColor(0, 0x80, 0x80);
    QTest::newRow("line comment") << int(SqlLineComment) << text << 13 << "i" << QColor(0, 0, 0x80);
    QTest::newRow("brace comment")
        << int(SqlBraceComment) << text << 13 << "i" << QColor(0, 0, 0x80);
    QTest::newRow("c comment") << int(SqlCComment) << text << 13 << "i" << QColor(0, 0, 0x80);
    QTest::newRow("number") << int(SqlNumber) << text << 13 << "b" << QColor(Qt::magenta);
    QTest::newRow("url") << int(SqlUrl) << text << 13 << "u" << QColor(Qt::blue);
}

void tst_SqlEditor::styleLooks()
{
    QFETCH(int, style);
    QFETCH(QString, family);
    QFETCH(int, pixels);
    QFETCH(QString, flags);
    QFETCH(QColor, fore);
    SqlEditor editor;
    QCOMPARE(styleFont(editor, style), family);
    QCOMPARE(stylePixels(editor, style), pixels);
    // QScintilla hands Qt's weight over negated.
    QCOMPARE(qAbs(editor.SendScintilla(Sci::SCI_STYLEGETWEIGHT, style)) >= QFont::Bold,
             flags.contains(u'b'));
    QCOMPARE(editor.SendScintilla(Sci::SCI_STYLEGETITALIC, style) != 0, flags.contains(u'i'));
    QCOMPARE(editor.SendScintilla(Sci::SCI_STYLEGETUNDERLINE, style) != 0, flags.contains(u'u'));
    QCOMPARE(fromBgr(editor.SendScintilla(Sci::SCI_STYLEGETFORE, style)), fore);
    QCOMPARE(fromBgr(editor.SendScintilla(Sci::SCI_STYLEGETBACK, style)), QColor(Qt::white));
}

void tst_SqlEditor::contextMenuTexts()
{
    SqlEditor editor;
    editor.setText(QStringLiteral("select 1"));
    editor.selectAll();
    const std::unique_ptr<QMenu> menu(editor.createEditorContextMenu(nullptr));
    QStringList texts;
    for (QAction* action : menu->actions())
        if (!action->isSeparator())
            texts << action->text();
    QCOMPARE(texts, (QStringList{"撤销", "重做", "剪切", "复制", "粘贴", "删除", "全选"}));

    // The menu's delete works on the editor it belongs to.
    menu->actions().at(6)->trigger();
    QVERIFY(editor.IsEditorEmpty());
}

void tst_SqlEditor::completion_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("ctrlSpace");
    QTest::addColumn<int>("down"); // presses of the down key in the list
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("afterEnter");
    QTest::newRow("ctrl+space completes the word") << "SEL" << true << 0 << true << "select";
    // Enter takes an entry only when the user moved to it or typed a prefix of it.
    QTest::newRow("ctrl+space on nothing, Enter is a line break")
        << "" << true << 0 << true << "\r\n";
    QTest::newRow("ctrl+space on nothing, moved down") << "" << true << 1 << true << "all";
    QTest::newRow("ctrl+space on a word nothing starts with")
        << "zqx" << true << 0 << false << "zqx\r\n";
    // After "(" and "." the list waits for a prefix that matches.
    QTest::newRow("after (, Enter is a line break")
        << "select count(" << false << 0 << false << "select count(\r\n";
    QTest::newRow("after ( and a prefix") << "count(sel" << false << 0 << true << "count(select";
    QTest::newRow("after ( and no match") << "count(zq" << false << 0 << false << "count(zq\r\n";
    QTest::newRow("after .") << "t." << false << 0 << false << "t.\r\n";
    QTest::newRow("after . and a prefix") << "t.ad" << false << 0 << true << "t.add";
    QTest::newRow("not while typing a word") << "sel" << false << 0 << false << "sel\r\n";
}

void tst_SqlEditor::completion()
{
    QFETCH(QString, typed);
    QFETCH(bool, ctrlSpace);
    QFETCH(int, down);
    QFETCH(bool, shown);
    QFETCH(QString, afterEnter);
    ShownEditor shownEditor;
    SqlEditor& editor = shownEditor.editor;
    QTest::keyClicks(&editor, typed);
    if (ctrlSpace)
        QTest::keyClick(&editor, Qt::Key_Space, Qt::ControlModifier);
    QCOMPARE(editor.isListActive(), shown);
    for (int i = 0; i < down; ++i)
        QTest::keyClick(&editor, Qt::Key_Down);
    if (shown) {
        auto* list = editor.findChild<QListWidget*>();
        QVERIFY(list);
        QCOMPARE(list->font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(list->font().pixelSize(), 11);
    }
    QTest::keyClick(&editor, Qt::Key_Return);
    QCOMPARE(editor.text(), afterEnter);
}

void tst_SqlEditor::completionListKeepsWordOrder()
{
    ShownEditor shownEditor;
    SqlEditor& editor = shownEditor.editor;
    editor.showCompletion();
    auto* list = editor.findChild<QListWidget*>();
    QVERIFY(list);
    QStringList items;
    for (int row = 0; row < list->count(); ++row)
        items << list->item(row)->text();
    // Not re-sorted: "sql_big_result" stays after "sqlwarning", as given.
    QCOMPARE(items, SqlStyler::completionWords());
    QVERIFY(!list->item(0)->icon().isNull());
}

void tst_SqlEditor::autoCorrect_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::newRow("space") << "select Postion "
                           << "select Position ";
    QTest::newRow("parenthesis") << "Postion("
                                 << "Position(";
    QTest::newRow("comma") << "a,Postion,"
                           << "a,Position,";
    QTest::newRow("not before the word ends") << "Postion"
                                              << "Postion";
    QTest::newRow("longer word") << "Postions "
                                 << "Postions ";
    QTest::newRow("other case") << "postion "
                                << "postion ";
    QTest::newRow("inside a word") << "xPostion "
                                   << "xPostion ";
    // Inside quotes and comments the word is data.
    QTest::newRow("in a string") << "select 'Postion '"
                                 << "select 'Postion '";
    QTest::newRow("in double quotes") << "where a = \"Postion,\""
                                      << "where a = \"Postion,\"";
    QTest::newRow("in a comment") << "-- Postion "
                                  << "-- Postion ";
    QTest::newRow("after a closed string") << "'x' Postion "
                                           << "'x' Position ";
}

void tst_SqlEditor::autoCorrect()
{
    QFETCH(QString, typed);
    QFETCH(QString, text);
    ShownEditor shownEditor;
    QTest::keyClicks(&shownEditor.editor, typed);
    shownEditor.editor.cancelList();
    QCOMPARE(shownEditor.editor.text(), text);
}

void tst_SqlEditor::parameterHintAfterDelay()
{
    ShownEditor shownEditor;
    SqlEditor& editor = shownEditor.editor;
    editor.styler()->setParameterHint(QStringLiteral("SUBSTRING"), QStringLiteral("str, pos, len"));
    auto hintShown = [&] { return editor.SendScintilla(Sci::SCI_CALLTIPACTIVE) != 0; };

    QTest::keyClicks(&editor, QStringLiteral("select substring("));
    QTest::qWait(300);
    QVERIFY(!hintShown());
    QTRY_VERIFY_WITH_TIMEOUT(hintShown(), 1000);
    QTest::keyClicks(&editor, QStringLiteral("a)"));
    QVERIFY(!hintShown());

    // No hint for a name without one.
    QTest::keyClicks(&editor, QStringLiteral(" and count("));
    QTest::qWait(800);
    QVERIFY(!hintShown());
}

void tst_SqlEditor::smartTabs()
{
    ShownEditor shownEditor;
    SqlEditor& editor = shownEditor.editor;
    editor.setText(QStringLiteral("select  name,   id\r\n\r\n"));
    editor.setCursorPosition(2, 0);
    QList<int> columns;
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(&editor, Qt::Key_Tab);
        int line = 0;
        int index = 0;
        editor.getCursorPosition(&line, &index);
        columns << index;
    }
    // Under "name", under "id", then an ordinary tab stop, in spaces.
    QCOMPARE(columns, (QList<int>{8, 16, 20}));
    QCOMPARE(editor.text(2), QString(20, u' '));

    // Trailing blanks go when the line is left with Enter.
    QTest::keyClicks(&editor, QStringLiteral("x  "));
    QTest::keyClick(&editor, Qt::Key_Return);
    QCOMPARE(editor.text(2), QString(20, u' ') + QStringLiteral("x\r\n"));
}

void tst_SqlEditor::modifiedAndActiveLineMarks()
{
    QTemporaryDir dir;
    QVERIFY(test::writeAll(dir.filePath("a.sql"), "l0\r\nl1\r\nl2\r\nl3\r\nl4\r\n"));
    ShownEditor shownEditor;
    SqlEditor& editor = shownEditor.editor;
    editor.loadScript(dir.filePath("a.sql"));
    QCOMPARE(markedLines(editor, SqlEditor::ModifiedLineMarker), QList<int>{});
    QCOMPARE(markedLines(editor, SqlEditor::ActiveLineMarker), QList<int>{0});

    editor.setCursorPosition(2, 2);
    QTest::keyClick(&editor, Qt::Key_X);
    QCOMPARE(markedLines(editor, SqlEditor::ModifiedLineMarker), QList<int>{2});
    QTRY_COMPARE(markedLines(editor, SqlEditor::ActiveLineMarker), QList<int>{2});

    // Enter at a line's start moves the line, with its marks, down.
    editor.setCursorPosition(3, 0);
    QTest::keyClick(&editor, Qt::Key_Return);
    QTRY_COMPARE(markedLines(editor, SqlEditor::ActiveLineMarker), QList<int>{4});
    QCOMPARE(markedLines(editor, SqlEditor::ModifiedLineMarker), (QList<int>{2, 3, 4}));
    QTest::keyClick(&editor, Qt::Key_Up);
    QTRY_COMPARE(markedLines(editor, SqlEditor::ActiveLineMarker), QList<int>{3});

    // Deleting the lines above the caret.
    editor.setSelection(0, 0, 3, 0);
    QTest::keyClick(&editor, Qt::Key_Delete);
    QTRY_COMPARE(markedLines(editor, SqlEditor::ActiveLineMarker), QList<int>{0});

    editor.saveScript(dir.filePath("b.sql"));
    QCOMPARE(markedLines(editor, SqlEditor::ModifiedLineMarker), QList<int>{});
}

void tst_SqlEditor::saveStripsEditorOnlyWhenWritten()
{
    QTemporaryDir dir;
    SqlEditor editor;
    const QString text = QStringLiteral("select 1   \r\nfrom t\t");
    editor.setText(text);
    QVERIFY_THROWS_EXCEPTION(ScriptFileError, editor.saveScript(dir.filePath("no/such.sql")));
    QCOMPARE(editor.text(), text);

    editor.saveScript(dir.filePath("a.sql"));
    QCOMPARE(editor.text(), QStringLiteral("select 1\r\nfrom t"));
    QCOMPARE(test::readAll(dir.filePath("a.sql")), QByteArray("select 1\r\nfrom t\r\n"));
    editor.undo(); // one step brings the blanks back
    QCOMPARE(editor.text(), text);
}

void tst_SqlEditor::loadKeepsEveryByteAndCanBeUndone()
{
    QTemporaryDir dir;
    const char raw[] = "select 1;\0 -- after a NUL\r\nselect 2;\r\n";
    const QByteArray bytes(raw, sizeof(raw) - 1);
    QVERIFY(test::writeAll(dir.filePath("nul.sql"), bytes));
    SqlEditor editor;
    editor.setText(QStringLiteral("typed before"));
    editor.loadScript(dir.filePath("nul.sql"));
    QCOMPARE(editor.length(), int(bytes.size()) - 2);
    editor.saveScript(dir.filePath("out.sql"));
    QCOMPARE(test::readAll(dir.filePath("out.sql")), bytes);

    editor.undo(); // an accidental open or drop is not the end of the typed text
    QCOMPARE(editor.text(), QStringLiteral("typed before"));
}

void tst_SqlEditor::unsavedTextAndErrorLine()
{
    QTemporaryDir dir;
    SqlEditor editor;
    QVERIFY(!editor.hasUnsavedText()); // a fresh, empty editor has nothing to lose
    editor.setText(QStringLiteral("select 1"));
    QVERIFY(editor.hasUnsavedText());
    const QString path = dir.filePath(QStringLiteral("a.sql"));
    editor.saveScript(path);
    QVERIFY(!editor.hasUnsavedText());
    editor.append(QStringLiteral(" "));
    QVERIFY(editor.hasUnsavedText());
    editor.setText(QStringLiteral("select 1"));
    QVERIFY(!editor.hasUnsavedText()); // the same text again
    editor.loadScript(path);
    QVERIFY(!editor.hasUnsavedText());

    editor.setText(QStringLiteral("a\r\nb\r\nc"));
    editor.markErrorLine(1);
    QCOMPARE(editor.errorLine(), 1);
    QVERIFY(editor.markersAtLine(1) & (1u << SqlEditor::ErrorLineMarker));
    QVERIFY(editor.markersAtLine(1) & (1u << SqlEditor::ErrorLineGutterMarker));
    int line = -1, index = -1;
    editor.getCursorPosition(&line, &index);
    QCOMPARE(line, 1);
    editor.insertAt(QStringLiteral("x"), 2, 0); // the next edit takes the mark away
    QCOMPARE(editor.errorLine(), -1);
    QCOMPARE(editor.markersAtLine(1) & (1u << SqlEditor::ErrorLineMarker), 0u);
}

void tst_SqlEditor::dropsAreCopiesAndAltDragSelectsABlock()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("d.sql"));
    QVERIFY(test::writeAll(path, "select 1;\r\n"));
    SqlEditor editor;
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(editor.viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QCOMPARE(enter.dropAction(), Qt::CopyAction);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                    Qt::NoModifier);
    drop.setDropAction(Qt::MoveAction);
    QCoreApplication::sendEvent(editor.viewport(), &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(drop.dropAction(), Qt::CopyAction);

    // Alt+drag over two lines selects the block between the two points.
    ShownEditor shown;
    SqlEditor& target = shown.editor;
    target.setText(QStringLiteral("abcdef\r\nghijkl\r\nmnopqr"));
    const auto at = [&target](int line, int index) {
        const long pos = target.positionFromLineIndex(line, index);
        return QPoint(int(target.SendScintilla(Sci::SCI_POINTXFROMPOSITION, 0UL, pos)),
                      int(target.SendScintilla(Sci::SCI_POINTYFROMPOSITION, 0UL, pos)) + 2);
    };
    QTest::mousePress(target.viewport(), Qt::LeftButton, Qt::AltModifier, at(0, 1));
    QTest::mouseMove(target.viewport(), at(1, 3));
    QMouseEvent move(QEvent::MouseMove, at(1, 3), target.viewport()->mapToGlobal(at(1, 3)),
                     Qt::NoButton, Qt::LeftButton, Qt::AltModifier);
    QCoreApplication::sendEvent(target.viewport(), &move);
    QTest::mouseRelease(target.viewport(), Qt::LeftButton, Qt::AltModifier, at(1, 3));
    QVERIFY(target.SendScintilla(Sci::SCI_SELECTIONISRECTANGLE) != 0);
    QCOMPARE(target.selectedText(), QStringLiteral("bc\r\nhi\r\n"));
}

QTEST_MAIN(tst_SqlEditor)
#include "tst_SqlEditor.moc"
