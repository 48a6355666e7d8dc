// The main window's script handling: the save button following the editor, opening, saving and
// dropping script files through the dialogs, and what a failed read or write leaves behind.

#include "AppInfo.h"
#include "FakePrompts.h"
#include "Fonts.h"
#include "MainForm.h"
#include "SqlEditor.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QUrl>

using namespace quarvel;
using test::FakePrompts;
using test::readAll;
using test::writeAll;

namespace {

const QString kFilter = QStringLiteral("脚本文件(*.sql)|*.sql");
const QString kSaveQuestion = QStringLiteral("脚本已修改，是否保存？");

struct Window
{
    QTemporaryDir dir;
    FakePrompts prompts;
    std::unique_ptr<TfrmMain> form;

    Window()
    {
        test::writeConnectionConfig(dir.path(), test::testDb());
        form = std::make_unique<TfrmMain>(dir.path());
        form->setPrompts(&prompts);
        form->show();
        prompts.messages.clear();
    }
    SqlEditor* editor() const { return form->findChild<SqlEditor*>("mmoScript"); }
    QToolButton* button(const char* name) const { return form->findChild<QToolButton*>(name); }
    QString path(const QString& name) const { return dir.filePath(name); }
    bool saveShown() const { return !button("btnSaveSql")->isHidden(); }
};

QByteArray gbk(const QString& text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

void drop(QWidget* target, const QStringList& paths)
{
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    mime.setUrls(urls);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent dropped(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &dropped);
    QVERIFY(dropped.isAccepted());
}

} // namespace

class tst_MainFormScript : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void saveButtonFollowsEmptiness();
    void openReplacesText();
    void cancelledDialogsChangeNothing();
    void dialogsStartInTheLastFolder();
    void keysOpenAndSave();
    void unsavedTextIsAskedFor_data();
    void unsavedTextIsAskedFor();
    void filtersShowTheirPatternsOnce_data();
    void filtersShowTheirPatternsOnce();
    void saveAsksAndWritesCrLfLines();
    void emptyEditorIsNotSaved();
    void gbkScriptIsSavedBackInGbk();
    void droppedFilesLoadInTurn();
    void openThenSaveIsByteIdentical_data();
    void openThenSaveIsByteIdentical();
    void failedSaveKeepsOldFileAndText_data();
    void failedSaveKeepsOldFileAndText();
    void failedOpenKeepsText();
};

void tst_MainFormScript::saveButtonFollowsEmptiness()
{
    Window w;
    SqlEditor* editor = w.editor();
    QVERIFY(!w.saveShown());
    QTest::keyClick(editor, Qt::Key_A);
    QVERIFY(w.saveShown());
    QTest::keyClick(editor, Qt::Key_Backspace);
    QVERIFY(!w.saveShown());
    QTest::keyClick(editor, Qt::Key_Return); // two empty lines are not empty
    QVERIFY(w.saveShown());
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_Delete);
    QVERIFY(!w.saveShown());
}

void tst_MainFormScript::openReplacesText()
{
    Window w;
    w.editor()->setText(QStringLiteral("old text"));
    QVERIFY(writeAll(w.path("a.sql"), "select\t1;\nselect 2;\n"));
    w.prompts.fileAnswers << w.path("a.sql");
    w.prompts.messageAnswers << QMessageBox::Discard; // the typed text may go
    w.button("btnOpenSql")->click();
    QCOMPARE(w.prompts.messages.size(), 1);
    QCOMPARE(w.prompts.messages.takeFirst().text, kSaveQuestion);

    QCOMPARE(w.prompts.dialogs.size(), 1);
    const FakePrompts::Dialog& dialog = w.prompts.dialogs.first();
    QVERIFY(!dialog.save);
    QCOMPARE(dialog.options.title, QStringLiteral("打开SQL脚本文件"));
    QCOMPARE(dialog.options.filter, kFilter);
    QCOMPARE(w.editor()->text(), QStringLiteral("select    1;\r\nselect 2;"));
    QVERIFY(w.saveShown());
    QVERIFY(w.prompts.messages.isEmpty());
}

void tst_MainFormScript::cancelledDialogsChangeNothing()
{
    Window w;
    const QString text = QStringLiteral("select 1   ");
    w.editor()->setText(text);
    w.button("btnOpenSql")->click();
    w.button("btnSaveSql")->click();
    QCOMPARE(w.prompts.dialogs.size(), 2);
    QCOMPARE(w.editor()->text(), text);
    QCOMPARE(QDir(w.dir.path()).entryList({"*.sql"}, QDir::Files), QStringList());
}

void tst_MainFormScript::dialogsStartInTheLastFolder()
{
    Window w;
    QVERIFY(writeAll(w.path("scripts/a.sql"), "select 1;\r\n"));
    w.prompts.fileAnswers << w.path("scripts/a.sql") << QString();
    w.button("btnOpenSql")->click();
    w.button("btnSaveSql")->click();
    QCOMPARE(w.prompts.dialogs.size(), 2);
    QCOMPARE(w.prompts.dialogs[0].options.folder, QString()); // the first: the dialog's choice
    QCOMPARE(w.prompts.dialogs[1].options.folder,
             QFileInfo(w.path("scripts/a.sql")).absolutePath());
}

void tst_MainFormScript::keysOpenAndSave()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    w.editor()->setText(QStringLiteral("select 1"));
    w.editor()->setFocus();
    w.prompts.fileAnswers << w.path("k.sql");
    QTest::keyClick(w.editor(), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(readAll(w.path("k.sql")), QByteArray("select 1\r\n"));
    QTest::keyClick(w.editor(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(w.prompts.dialogs.size(), 2);
    QVERIFY(w.prompts.dialogs[0].save);
    QVERIFY(!w.prompts.dialogs[1].save);
    QVERIFY(w.prompts.messages.isEmpty()); // saved: nothing to ask
}

void tst_MainFormScript::unsavedTextIsAskedFor_data()
{
    QTest::addColumn<QString>("way"); // "close" or "open"
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("saveDialogCancelled");
    QTest::addColumn<bool>("goesOn"); // the window closes, or the file is loaded
    for (const char* way : {"close", "open"}) {
        const QByteArray w(way);
        QTest::newRow(w + ", save")
            << QString::fromLatin1(way) << int(QMessageBox::Save) << false << true;
        QTest::newRow(w + ", save, dialog cancelled")
            << QString::fromLatin1(way) << int(QMessageBox::Save) << true << false;
        QTest::newRow(w + ", don't save")
            << QString::fromLatin1(way) << int(QMessageBox::Discard) << false << true;
        QTest::newRow(w + ", cancel")
            << QString::fromLatin1(way) << int(QMessageBox::Cancel) << false << false;
    }
}

void tst_MainFormScript::unsavedTextIsAskedFor()
{
    QFETCH(QString, way);
    QFETCH(int, answer);
    QFETCH(bool, saveDialogCancelled);
    QFETCH(bool, goesOn);
    Window w;
    QVERIFY(writeAll(w.path("other.sql"), "select 2;\r\n"));
    const QString typed = QStringLiteral("select 'typed'");
    w.editor()->setText(typed);
    w.prompts.messageAnswers << QMessageBox::StandardButton(answer);
    if (answer == QMessageBox::Save)
        w.prompts.fileAnswers << (saveDialogCancelled ? QString() : w.path("typed.sql"));
    if (way == "open")
        w.prompts.fileAnswers << w.path("other.sql");
    if (way == "close")
        w.form->close();
    else
        w.button("btnOpenSql")->click();

    QCOMPARE(w.prompts.messages.size(), 1);
    const FakePrompts::Message& asked = w.prompts.messages.first();
    QCOMPARE(asked.text, kSaveQuestion);
    QCOMPARE(asked.caption, QStringLiteral("岚拓数据库执行工具"));
    QCOMPARE(asked.buttons, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    QCOMPARE(QFileInfo::exists(w.path("typed.sql")),
             answer == QMessageBox::Save && !saveDialogCancelled);
    if (way == "close")
        QCOMPARE(w.form->isVisible(), !goesOn);
    else
        QCOMPARE(w.editor()->text(), goesOn ? QStringLiteral("select 2;") : typed);
}

void tst_MainFormScript::filtersShowTheirPatternsOnce_data()
{
    QTest::addColumn<QString>("pipe");
    QTest::addColumn<QString>("qt");
    QTest::newRow("scripts") << "脚本文件(*.sql)|*.sql"
                             << "脚本文件(*.sql)";
    QTest::newRow("workbooks") << "电子表格文件(*.xlsx)|*.xlsx"
                               << "电子表格文件(*.xlsx)";
    QTest::newRow("patterns not in the text, two filters") << "SQL|*.sql|All|*.*"
                                                           << "SQL (*.sql);;All (*.*)";
}

void tst_MainFormScript::filtersShowTheirPatternsOnce()
{
    QFETCH(QString, pipe);
    QFETCH(QString, qt);
    QCOMPARE(toQtFilter(pipe), qt);
}

void tst_MainFormScript::saveAsksAndWritesCrLfLines()
{
    Window w;
    w.editor()->setText(QStringLiteral("select 1  \r\nfrom 表\t\r\n"));
    w.prompts.fileAnswers << w.path("out"); // no extension typed
    w.button("btnSaveSql")->click();

    QCOMPARE(w.prompts.dialogs.size(), 1);
    const FakePrompts::Dialog& dialog = w.prompts.dialogs.first();
    QVERIFY(dialog.save);
    QCOMPARE(dialog.options.title, QStringLiteral("脚本文件另存为..."));
    QCOMPARE(dialog.options.filter, kFilter);
    QCOMPARE(dialog.options.defaultExtension, QStringLiteral(".sql"));
    QVERIFY(dialog.options.overwritePrompt);

    // A new text is UTF-8; the empty last line is a line too.
    QCOMPARE(readAll(w.path("out.sql")), QStringLiteral("select 1\r\nfrom 表\r\n\r\n").toUtf8());
    QVERIFY(!QFileInfo::exists(w.path("out")));
    QCOMPARE(w.editor()->text(), QStringLiteral("select 1\r\nfrom 表\r\n"));
    QVERIFY(w.prompts.messages.isEmpty());
}

void tst_MainFormScript::emptyEditorIsNotSaved()
{
    Window w;
    w.button("btnSaveSql")->click();
    QVERIFY(w.prompts.dialogs.isEmpty());
}

void tst_MainFormScript::gbkScriptIsSavedBackInGbk()
{
    Window w;
    const QByteArray bytes = gbk(QStringLiteral("-- 岚拓\r\nselect '中文';\r\n"));
    QVERIFY(writeAll(w.path("gbk.sql"), bytes));
    w.prompts.fileAnswers << w.path("gbk.sql") << w.path("gbk.sql");
    w.button("btnOpenSql")->click();
    QCOMPARE(w.editor()->text(), QStringLiteral("-- 岚拓\r\nselect '中文';"));
    w.button("btnSaveSql")->click();
    QCOMPARE(readAll(w.path("gbk.sql")), bytes);

    w.editor()->insertAt(QStringLiteral("表"), 0, 0);
    w.prompts.fileAnswers << w.path("gbk.sql");
    w.button("btnSaveSql")->click();
    QCOMPARE(readAll(w.path("gbk.sql")), gbk(QStringLiteral("表-- 岚拓\r\nselect '中文';\r\n")));
}

void tst_MainFormScript::droppedFilesLoadInTurn()
{
    Window w;
    QVERIFY(writeAll(w.path("first.sql"), "select 1;\r\n"));
    QVERIFY(writeAll(w.path("second.sql"), "select 2;\r\n"));
    drop(w.editor()->viewport(), {w.path("first.sql"), w.path("second.sql")});
    QCOMPARE(w.editor()->text(), QStringLiteral("select 2;"));
    QVERIFY(w.saveShown());
    QVERIFY(w.prompts.messages.isEmpty());
}

void tst_MainFormScript::openThenSaveIsByteIdentical_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QString script = QStringLiteral("-- 岚拓\r\nselect '中' from 表;\r\n");
    QTest::newRow("gbk") << gbk(script);
    QTest::newRow("gb18030 bom") << "\x84\x31\x95\x33" + gbk(script);
    QTest::newRow("utf-8 bom") << "\xEF\xBB\xBF" + script.toUtf8();
    QTest::newRow("utf-8, doubled bom") << "\xEF\xBB\xBF\xEF\xBB\xBF" + script.toUtf8();
    QTest::newRow("utf-8, nul inside") << QByteArray("select 'a\0b';\r\n", 15);
}

void tst_MainFormScript::openThenSaveIsByteIdentical()
{
    QFETCH(QByteArray, bytes);
    Window w;
    QVERIFY(writeAll(w.path("in.sql"), bytes));
    w.prompts.fileAnswers << w.path("in.sql") << w.path("out.sql");
    w.button("btnOpenSql")->click();
    w.button("btnSaveSql")->click();
    QVERIFY(w.prompts.messages.isEmpty());
    QCOMPARE(readAll(w.path("out.sql")), bytes);
}

void tst_MainFormScript::failedSaveKeepsOldFileAndText_data()
{
    QTest::addColumn<int>("textSize");
    QTest::newRow("beyond the write buffer") << 100000;
    QTest::newRow("within the write buffer") << 40;
}

void tst_MainFormScript::failedSaveKeepsOldFileAndText()
{
    QFETCH(int, textSize);
    Window w;
    const QByteArray old = "select 'old';\r\n";
    QVERIFY(writeAll(w.path("a.sql"), old));
    const QString text = QString(textSize, u'x') + QStringLiteral("   ");
    w.editor()->setText(text);
    w.prompts.fileAnswers << w.path("a.sql");
    {
        // A full disk: the file may not grow past 8 bytes.
        test::FileSizeLimit limit(8);
        w.button("btnSaveSql")->click();
    }

    QCOMPARE(w.prompts.messages.size(), 1);
    const FakePrompts::Message& report = w.prompts.messages.first();
    QCOMPARE(report.icon, QMessageBox::Critical);
    QCOMPARE(report.caption, appTitle());
    QVERIFY2(report.text.contains(QDir::toNativeSeparators(w.path("a.sql"))),
             qPrintable(report.text));
    // In the program's words, and saying what is wrong.
    QVERIFY2(report.text.startsWith(QStringLiteral("无法写入文件")) &&
                 report.text.contains(QStringLiteral("磁盘已满")),
             qPrintable(report.text));
    QCOMPARE(readAll(w.path("a.sql")), old);
    QCOMPARE(w.editor()->text(), text);
}

void tst_MainFormScript::failedOpenKeepsText()
{
    Window w;
    const QString text = QStringLiteral("select 1");
    w.editor()->setText(text);
    QVERIFY(writeAll(w.path("binary.sql"), QByteArray("select \xFF\xFE\x00 1", 12)));
    w.prompts.fileAnswers << w.path("binary.sql") << w.path("missing.sql");
    w.prompts.messageAnswers << QMessageBox::Discard << QMessageBox::Ok << QMessageBox::Discard;
    w.button("btnOpenSql")->click();
    w.button("btnOpenSql")->click();
    // Each open asks first about the typed text; the errors follow.
    QCOMPARE(w.prompts.messages.size(), 4);
    QCOMPARE(w.prompts.messages.takeAt(2).text, kSaveQuestion);
    QCOMPARE(w.prompts.messages.takeAt(0).text, kSaveQuestion);
    QVERIFY(w.prompts.messages[0].text.contains(QStringLiteral("binary.sql")));
    QVERIFY(w.prompts.messages[1].text.contains(QStringLiteral("missing.sql")));
    QVERIFY2(w.prompts.messages[0].text.startsWith(QStringLiteral("无法打开文件")),
             qPrintable(w.prompts.messages[0].text));
    QVERIFY2(w.prompts.messages[1].text.contains(QStringLiteral("文件或文件夹不存在")),
             qPrintable(w.prompts.messages[1].text));
    QCOMPARE(w.editor()->text(), text);
}

QTEST_MAIN(tst_MainFormScript)
#include "tst_MainFormScript.moc"
