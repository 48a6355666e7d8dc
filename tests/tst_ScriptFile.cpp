// Script files on disk: line and TAB handling, the encodings of old and new scripts, and writes
// that never leave a half-written file.

#include "ScriptFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QScopeGuard>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace quarvel;
using test::readAll;
using test::writeAll;

Q_DECLARE_METATYPE(quarvel::TextEncoding)

namespace {

QByteArray gbk(const QString& text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

} // namespace

class tst_ScriptFile : public QObject
{
    Q_OBJECT

private slots:
    void editorText_data();
    void editorText();
    void fileText_data();
    void fileText();
    void read_data();
    void read();
    void readRefused_data();
    void readRefused();
    void unchangedRoundTripIsByteIdentical_data();
    void unchangedRoundTripIsByteIdentical();
    void failedWriteKeepsOldFile_data();
    void failedWriteKeepsOldFile();
    void writeInPlaceWhenFolderTakesNoNewFiles();
    void defaultExtension_data();
    void defaultExtension();
};

void tst_ScriptFile::editorText_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("editor");
    QTest::newRow("tab is 4 spaces, not a tab stop") << "ab\tc\t\td"
                                                     << "ab    c        d";
    QTest::newRow("crlf") << "a\r\nb\r\n"
                          << "a\r\nb";
    QTest::newRow("lf") << "a\nb\n"
                        << "a\r\nb";
    QTest::newRow("cr") << "a\rb"
                        << "a\r\nb";
    QTest::newRow("no final break") << "a\r\nb"
                                    << "a\r\nb";
    QTest::newRow("empty line at end") << "a\r\n\r\n"
                                       << "a\r\n";
    QTest::newRow("empty file") << ""
                                << "";
    QTest::newRow("one line break") << "\r\n"
                                    << "";
}

void tst_ScriptFile::editorText()
{
    QFETCH(QString, file);
    QFETCH(QString, editor);
    QCOMPARE(editorTextFromFile(file), editor);
    QCOMPARE(editorTextFromFile(QByteArrayView(file.toUtf8())), editor.toUtf8());
}

void tst_ScriptFile::fileText_data()
{
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QList<int>>("trims"); // line, removed, line, removed...
    QTest::newRow("every line ends with crlf") << "a\r\nb"
                                               << "a\r\nb\r\n"
                                               << QList<int>{};
    QTest::newRow("empty last line") << "a\r\n"
                                     << "a\r\n\r\n"
                                     << QList<int>{};
    QTest::newRow("trailing blanks") << "a  \r\n  b\t\r\nc"
                                     << "a\r\n  b\r\nc\r\n"
                                     << QList<int>{0, 2, 1, 1};
    QTest::newRow("control characters") << QStringLiteral("x\x01 \x1f") << "x\r\n"
                                        << QList<int>{0, 3};
    QTest::newRow("blank line") << "a\r\n   \r\nb"
                                << "a\r\n\r\nb\r\n"
                                << QList<int>{1, 3};
    QTest::newRow("lone line feed") << "a \nb"
                                    << "a\r\nb\r\n"
                                    << QList<int>{0, 1};
    QTest::newRow("chinese kept") << "中文 "
                                  << "中文\r\n"
                                  << QList<int>{0, 1};
}

void tst_ScriptFile::fileText()
{
    QFETCH(QString, editor);
    QFETCH(QString, file);
    QFETCH(QList<int>, trims);
    QList<LineTrim> reported;
    QCOMPARE(fileTextFromEditor(editor, &reported), file);
    QList<int> flat;
    for (const LineTrim& trim : reported)
        flat << trim.line << trim.removed;
    QCOMPARE(flat, trims);
}

void tst_ScriptFile::read_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<TextEncoding>("encoding");
    const QString chinese = QStringLiteral("select '岚拓' from 表;");
    QTest::newRow("gbk") << gbk(chinese + "\r\n") << chinese << TextEncoding::Ansi;
    QTest::newRow("utf-8") << (chinese + "\n").toUtf8() << chinese << TextEncoding::Utf8;
    QTest::newRow("utf-8 with bom") << "\xEF\xBB\xBF" + (chinese + "\r\n\tx").toUtf8()
                                    << chinese + "\r\n    x" << TextEncoding::Utf8Bom;
    QTest::newRow("ascii") << QByteArray("select 1") << "select 1" << TextEncoding::Utf8;
}

void tst_ScriptFile::read()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(TextEncoding, encoding);
    QTemporaryDir dir;
    const QString path = dir.filePath("a.sql");
    QVERIFY(writeAll(path, bytes));
    const ScriptFile script = readScriptFile(path);
    QCOMPARE(QString::fromUtf8(script.text), text);
    QCOMPARE(script.encoding, encoding);
}

void tst_ScriptFile::readRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // empty: no file
    QTest::newRow("missing") << "missing.sql" << QByteArray();
    // 0xFF is no lead byte in UTF-8 or GB18030: loading it would replace bytes for good.
    QTest::newRow("neither utf-8 nor gbk") << "binary.sql" << QByteArray("select \xFF\xFE 1");
    QTest::newRow("broken utf-8 after bom")
        << "bom.sql" << QByteArray("\xEF\xBB\xBFselect '\xE5\xB2' 1");
    // Half a double-byte character at the very end would be dropped by the next save.
    QTest::newRow("gbk cut inside its last character")
        << "half.sql" << gbk(QStringLiteral("select '岚拓'")) + "\xB0";
}

void tst_ScriptFile::readRefused()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (!bytes.isEmpty())
        QVERIFY(writeAll(path, bytes));
    try {
        readScriptFile(path);
        QFAIL("no error");
    } catch (const ScriptFileError& e) {
        QVERIFY2(QString::fromUtf8(e.what()).contains(QDir::toNativeSeparators(path)), e.what());
    }
}

void tst_ScriptFile::unchangedRoundTripIsByteIdentical_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("gbk") << gbk(QStringLiteral("-- 岚拓数据库\r\nselect * from 用户;\r\n\r\n"));
    QTest::newRow("gbk, gb18030 four-byte character")
        << gbk(QStringLiteral("select '\U0001F600';\r\n"));
    QTest::newRow("utf-8 with bom") << "\xEF\xBB\xBF" + QStringLiteral("select '中';\r\n").toUtf8();
    QTest::newRow("utf-8") << QStringLiteral("select '中';\r\n").toUtf8();
    // The first mark tells the encoding; what follows it is text and stays.
    QTest::newRow("utf-8, doubled bom")
        << "\xEF\xBB\xBF\xEF\xBB\xBF" + QStringLiteral("select '中';\r\n").toUtf8();
    QTest::newRow("gb18030 bom") << "\x84\x31\x95\x33" + gbk(QStringLiteral("select '中';\r\n"));
}

void tst_ScriptFile::unchangedRoundTripIsByteIdentical()
{
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    QVERIFY(writeAll(dir.filePath("in.sql"), bytes));
    const ScriptFile script = readScriptFile(dir.filePath("in.sql"));
    writeScriptFile(dir.filePath("out.sql"), fileTextFromEditor(utf8Text(script.text)),
                    script.encoding);
    QCOMPARE(readAll(dir.filePath("out.sql")), bytes);
}

void tst_ScriptFile::failedWriteKeepsOldFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("sizeLimit"); // 0: none
    QTest::addColumn<int>("textSize");
    QTest::addColumn<bool>("lockedFolder"); // takes no new files; the old file is read-only
    QTest::newRow("folder missing") << "missing/a.sql" << qint64(0) << 100 << false;
    QTest::newRow("disk full, text beyond the write buffer")
        << "a.sql" << qint64(4096) << 100000 << false;
    // Buffered, a failed write this small only shows in the final flush.
    QTest::newRow("disk full, text within the write buffer")
        << "a.sql" << qint64(8) << 100 << false;
    QTest::newRow("locked folder, read-only file") << "a.sql" << qint64(0) << 100 << true;
}

void tst_ScriptFile::failedWriteKeepsOldFile()
{
    QFETCH(QString, name);
    QFETCH(qint64, sizeLimit);
    QFETCH(int, textSize);
    QFETCH(bool, lockedFolder);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    const bool oldFile = !name.contains(u'/');
    const QByteArray old = "select 'old';\r\n";
    if (oldFile)
        QVERIFY(writeAll(path, old));
    if (lockedFolder) {
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    }
    const QString text = QString(textSize - 2, u'x') + QStringLiteral("\r\n");
    QString error;
    {
        std::optional<test::OrdinaryUser> user;
        if (lockedFolder)
            user.emplace(dir.path());
        std::optional<test::FileSizeLimit> limit;
        if (sizeLimit)
            limit.emplace(sizeLimit);
        try {
            writeScriptFile(path, text, TextEncoding::Utf8);
        } catch (const ScriptFileError& e) {
            error = QString::fromUtf8(e.what());
        }
    }
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    if (oldFile)
        QCOMPARE(readAll(path), old);
    else
        QVERIFY(!QFileInfo::exists(path));
    // No temporary file is left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             oldFile ? QStringList{QStringLiteral("a.sql")} : QStringList{});
}

// A writable script in a folder that refuses new files is overwritten where it is; should the
// disk fill up meanwhile, the old bytes go back.
void tst_ScriptFile::writeInPlaceWhenFolderTakesNoNewFiles()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.sql"));
    const QByteArray old = "select 'the old script, a little longer';\r\n";
    QVERIFY(writeAll(path, old));
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    const auto unlock = qScopeGuard([&] {
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    const QString shorter = QStringLiteral("select 1;\r\n");
    const QString longer = QString(200, u'y') + QStringLiteral("\r\n");
    QString error;
    {
        test::OrdinaryUser user(dir.path());
        writeScriptFile(path, shorter, TextEncoding::Utf8);
        QCOMPARE(readAll(path), shorter.toUtf8());
        writeScriptFile(path, QString::fromUtf8(old), TextEncoding::Utf8);
        QCOMPARE(readAll(path), old);
        test::FileSizeLimit limit(old.size() + 10);
        try {
            writeScriptFile(path, longer, TextEncoding::Utf8);
        } catch (const ScriptFileError& e) {
            error = QString::fromUtf8(e.what());
        }
    }
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    QCOMPARE(readAll(path), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("a.sql")});
}

void tst_ScriptFile::defaultExtension_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("stored");
    QTest::newRow("none typed") << "/tmp/x/report"
                                << "/tmp/x/report.sql";
    QTest::newRow("sql typed") << "/tmp/x/report.sql"
                               << "/tmp/x/report.sql";
    QTest::newRow("other typed") << "/tmp/x/report.txt"
                                 << "/tmp/x/report.txt";
    QTest::newRow("dot in folder") << "/tmp/x.d/report"
                                   << "/tmp/x.d/report.sql";
}

void tst_ScriptFile::defaultExtension()
{
    QFETCH(QString, chosen);
    QFETCH(QString, stored);
    QCOMPARE(withDefaultExtension(chosen, QStringLiteral(".sql")), stored);
}

QTEST_MAIN(tst_ScriptFile)
#include "tst_ScriptFile.moc"
