#include "IniFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace quarvel;
using quarvel::test::readAll;
using quarvel::test::writeAll;

class tst_IniFile : public QObject
{
    Q_OBJECT

private slots:
    void readString_data();
    void readString();
    void parseInteger_data();
    void parseInteger();
    void readInteger_data();
    void readInteger();
    void readsFileAfresh();
    void write_data();
    void write();
    void writeThenRead_data();
    void writeThenRead();
    void writeFailure_data();
    void writeFailure();

private:
    QTemporaryDir m_dir;
};

static const QByteArray kBom = QByteArrayLiteral("\xEF\xBB\xBF");

#ifdef Q_OS_WIN
static const QByteArray kNativeEol = QByteArrayLiteral("\r\n");
#else
static const QByteArray kNativeEol = QByteArrayLiteral("\n");
#endif

// A null `content` means the file does not exist.
void tst_IniFile::readString_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const QString def = QStringLiteral("<def>");
    const QString db = QStringLiteral("Database");
    const QString server = QStringLiteral("Server");
    const QString db1 = QStringLiteral("db1");

    QTest::newRow("missing file") << QByteArray() << db << server << def;
    QTest::newRow("empty file") << QByteArray("") << db << server << def;
    QTest::newRow("plain") << QByteArray("[Database]\nServer=db1\n") << db << server << db1;
    QTest::newRow("names are case-insensitive")
        << QByteArray("[database]\nSERVER=db1\n") << QStringLiteral("DataBase")
        << QStringLiteral("server") << db1;
    QTest::newRow("blanks trimmed")
        << QByteArray("  [ Database ]  \n \t Server \t=  db1 \t\n") << db << server << db1;
    QTest::newRow("requested names trimmed")
        << QByteArray("[Database]\nServer=db1\n") << QStringLiteral(" Database ")
        << QStringLiteral(" Server ") << db1;
    QTest::newRow("double quotes removed, inner blanks kept")
        << QByteArray("[Database]\nServer=\"  db1 \"\n") << db << server
        << QStringLiteral("  db1 ");
    QTest::newRow("single quotes removed")
        << QByteArray("[Database]\nServer='db1'\n") << db << server << db1;
    QTest::newRow("mismatched quotes kept")
        << QByteArray("[Database]\nServer=\"db1'\n") << db << server << QStringLiteral("\"db1'");
    QTest::newRow("lone quote kept")
        << QByteArray("[Database]\nServer=\"\n") << db << server << QStringLiteral("\"");
    QTest::newRow("empty quotes give empty")
        << QByteArray("[Database]\nServer=\"\"\n") << db << server << QString("");
    QTest::newRow("value keeps later '='") << QByteArray("[Database]\nPw=a=b\n") << db
                                           << QStringLiteral("Pw") << QStringLiteral("a=b");
    QTest::newRow("comment line skipped")
        << QByteArray("[Database]\n  ;Server=old\nServer=db1\n") << db << server << db1;
    QTest::newRow("commented key only")
        << QByteArray("[Database]\n; Server=old\n") << db << server << def;
    QTest::newRow("line without '=' ignored")
        << QByteArray("[Database]\nServer\nServer=db1\n") << db << server << db1;
    QTest::newRow("header with trailing text")
        << QByteArray("[Database] ; main\nServer=db1\n") << db << server << db1;
    QTest::newRow("BOM before first section") << kBom + "[Database]\r\nServer=db1\r\n"
                                              << db << server << db1;
    QTest::newRow("CRLF not part of value")
        << QByteArray("[Database]\r\nServer=db1\r\nUser=u\r\n") << db << server << db1;
    QTest::newRow("no final line end")
        << QByteArray("[Database]\nServer=db1") << db << server << db1;
    QTest::newRow("first key wins")
        << QByteArray("[Database]\nServer=db1\nserver=db2\n") << db << server << db1;
    QTest::newRow("first section wins")
        << QByteArray("[Database]\nServer=db1\n[Database]\nServer=db2\n") << db << server << db1;
    QTest::newRow("repeated section is not merged")
        << QByteArray("[Database]\nUser=u\n[Database]\nServer=db2\n") << db << server << def;
    QTest::newRow("empty value is empty, not default")
        << QByteArray("[Database]\nServer=\n") << db << server << QString("");
    QTest::newRow("blank value is empty")
        << QByteArray("[Database]\nServer=   \r\n") << db << server << QString("");
    QTest::newRow("missing key") << QByteArray("[Database]\nUser=u\n") << db << server << def;
    QTest::newRow("missing section") << QByteArray("[Other]\nServer=db1\n") << db << server << def;
    QTest::newRow("key in a later section")
        << QByteArray("[Database]\nUser=u\n[Other]\nServer=db1\n") << db << server << def;
    QTest::newRow("key before any section")
        << QByteArray("Server=db1\n[Database]\n") << db << server << def;
    QTest::newRow("key before any section, empty section name")
        << QByteArray("Server=db1\n") << QString("") << server << def;
    QTest::newRow("GBK file")
        << QByteArray("; \xC1\xAC\xBD\xD3\xC9\xE8\xD6\xC3\n[\xCA\xFD\xBE\xDD\xBF\xE2]\n"
                      "\xD3\xC3\xBB\xA7=\xD5\xC5\xC8\xFD\n")
        << QStringLiteral("数据库") << QStringLiteral("用户") << QStringLiteral("张三");
    QTest::newRow("UTF-8 file") << QStringLiteral("[数据库]\n用户=张三\n").toUtf8()
                                << QStringLiteral("数据库") << QStringLiteral("用户")
                                << QStringLiteral("张三");
}

void tst_IniFile::readString()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
#ifdef Q_OS_WIN
    if (QByteArray(QTest::currentDataTag()) == "GBK file")
        QSKIP("Depends on a Chinese ANSI code page");
#endif

    const QString path = m_dir.filePath(QStringLiteral("read.ini"));
    QFile::remove(path);
    if (!content.isNull())
        QVERIFY(writeAll(path, content));

    const QString value = IniFile(path).readString(section, key, QStringLiteral("<def>"));
    QCOMPARE(value, expected);
    QCOMPARE(value.isNull(), expected.isNull());
}

void tst_IniFile::parseInteger_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    const int def = -77;
    QTest::newRow("decimal") << QStringLiteral("300") << 300;
    QTest::newRow("blanks") << QStringLiteral(" \t300 ") << 300;
    QTest::newRow("leading zeros are decimal") << QStringLiteral("010") << 10;
    QTest::newRow("zero") << QStringLiteral("0") << 0;
    QTest::newRow("hex") << QStringLiteral("0x12C") << 300;
    QTest::newRow("hex upper prefix, lower digits") << QStringLiteral("0X12c") << 300;
    QTest::newRow("negative") << QStringLiteral("-5") << -5;
    QTest::newRow("plus") << QStringLiteral("+7") << 7;
    QTest::newRow("negative hex") << QStringLiteral("-0x10") << -16;
    QTest::newRow("int max") << QStringLiteral("2147483647") << 2147483647;
    QTest::newRow("int min") << QStringLiteral("-2147483648") << int(-2147483647 - 1);
    QTest::newRow("hex int max") << QStringLiteral("0x7FFFFFFF") << 2147483647;
    QTest::newRow("empty") << QString() << def;
    QTest::newRow("blank") << QStringLiteral("  ") << def;
    QTest::newRow("letters") << QStringLiteral("abc") << def;
    QTest::newRow("trailing junk") << QStringLiteral("12abc") << def;
    QTest::newRow("inner blank") << QStringLiteral("1 2") << def;
    QTest::newRow("decimal point") << QStringLiteral("1.5") << def;
    QTest::newRow("sign only") << QStringLiteral("-") << def;
    QTest::newRow("double sign") << QStringLiteral("+-1") << def;
    QTest::newRow("prefix only") << QStringLiteral("0x") << def;
    QTest::newRow("hex digits without prefix") << QStringLiteral("12C") << def;
    QTest::newRow("bad hex digit") << QStringLiteral("0x12G") << def;
    QTest::newRow("overflow") << QStringLiteral("2147483648") << def;
    QTest::newRow("negative overflow") << QStringLiteral("-2147483649") << def;
    QTest::newRow("hex overflow") << QStringLiteral("0x80000000") << def;
    QTest::newRow("huge") << QStringLiteral("99999999999999999999999") << def;
    QTest::newRow("non-ASCII digits") << QStringLiteral("١٢") << def;
}

void tst_IniFile::parseInteger()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(parseIniInteger(text, -77), expected);
}

void tst_IniFile::readInteger_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("expected");

    QTest::newRow("missing file") << QByteArray() << 175;
    QTest::newRow("missing key") << QByteArray("[Quarvel]\nOther=1\n") << 175;
    QTest::newRow("empty value") << QByteArray("[Quarvel]\nTopHeight=\n") << 175;
    QTest::newRow("decimal") << QByteArray("[quarvel]\r\ntopheight = 300\r\n") << 300;
    QTest::newRow("quoted hex") << QByteArray("[Quarvel]\nTopHeight=\"0x12C\"\n") << 300;
    QTest::newRow("not a number") << QByteArray("[Quarvel]\nTopHeight=abc\n") << 175;
}

void tst_IniFile::readInteger()
{
    QFETCH(QByteArray, content);
    QFETCH(int, expected);

    const QString path = m_dir.filePath(QStringLiteral("int.ini"));
    QFile::remove(path);
    if (!content.isNull())
        QVERIFY(writeAll(path, content));
    QCOMPARE(IniFile(path).readInteger(QStringLiteral("Quarvel"), QStringLiteral("TopHeight"), 175),
             expected);
}

void tst_IniFile::readsFileAfresh()
{
    const QString path = m_dir.filePath(QStringLiteral("afresh.ini"));
    const IniFile ini(path);
    QVERIFY(writeAll(path, "[Quarvel]\nTopHeight=1\n"));
    QCOMPARE(ini.readInteger(QStringLiteral("Quarvel"), QStringLiteral("TopHeight"), 0), 1);
    QVERIFY(writeAll(path, "[Quarvel]\nTopHeight=2\n"));
    QCOMPARE(ini.readInteger(QStringLiteral("Quarvel"), QStringLiteral("TopHeight"), 0), 2);
    QVERIFY(QFile::remove(path));
    QCOMPARE(ini.readInteger(QStringLiteral("Quarvel"), QStringLiteral("TopHeight"), 0), 0);
}

// Builds the config.ini of a field installation: BOM, CRLF, comments, a [Database] section and
// whatever [Quarvel] part the row needs.
static QByteArray configIni(const QByteArray& quarvelPart)
{
    return kBom +
           "; Connection settings, values scrambled\r\n"
           "[Database]\r\n"
           "DatabaseName=4A14896045EA97\r\n"
           "Server=0D43D2230522C6\r\n"
           "; local server\r\n"
           "Port=3306\r\n"
           "User=4E1E8A79\r\n"
           "Pw=\r\n"
           "\r\n" +
           quarvelPart +
           "[Export]\r\n"
           "Folder=C:\\Exports\r\n";
}

void tst_IniFile::write_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");

    const QString quarvel = QStringLiteral("Quarvel");
    const QString topHeight = QStringLiteral("TopHeight");
    const QString v300 = QStringLiteral("300");

    QTest::newRow("existing key replaced")
        << configIni("[Quarvel]\r\n; splitter\r\n  topheight = 175  \r\nWidth=2\r\n\r\n") << quarvel
        << topHeight << v300
        << configIni("[Quarvel]\r\n; splitter\r\nTopHeight=300\r\nWidth=2\r\n\r\n");
    QTest::newRow("key absent in existing section")
        << configIni("[quarvel]\r\nWidth=2\r\n; note\r\n\r\n\r\n") << quarvel << topHeight << v300
        << configIni("[quarvel]\r\nWidth=2\r\nTopHeight=300\r\n; note\r\n\r\n\r\n");
    QTest::newRow("existing section without keys")
        << configIni("[Quarvel]\r\n; nothing yet\r\n\r\n") << quarvel << topHeight << v300
        << configIni("[Quarvel]\r\nTopHeight=300\r\n; nothing yet\r\n\r\n");
    QTest::newRow("section absent") << configIni("") << quarvel << topHeight << v300
                                    << configIni("") + "[Quarvel]\r\nTopHeight=300\r\n";
    QTest::newRow("section absent, no final line end")
        << QByteArray("[Database]\r\nServer=x") << quarvel << topHeight << v300
        << QByteArray("[Database]\r\nServer=x\r\n[Quarvel]\r\nTopHeight=300\r\n");
    QTest::newRow("key replaced on last line without line end")
        << QByteArray("[Quarvel]\nTopHeight=1") << quarvel << topHeight << v300
        << QByteArray("[Quarvel]\nTopHeight=300");
    QTest::newRow("key added after last line without line end")
        << QByteArray("[Quarvel]\r\nWidth=1") << quarvel << topHeight << v300
        << QByteArray("[Quarvel]\r\nWidth=1\r\nTopHeight=300");
    QTest::newRow("LF file stays LF")
        << QByteArray("[Database]\nServer=x\n") << quarvel << topHeight << v300
        << QByteArray("[Database]\nServer=x\n[Quarvel]\nTopHeight=300\n");
    QTest::newRow("first line end decides")
        << QByteArray("[Database]\nServer=x\r\n") << quarvel << topHeight << v300
        << QByteArray("[Database]\nServer=x\r\n[Quarvel]\nTopHeight=300\n");
    QTest::newRow("repeated section: the first is written")
        << QByteArray("[Quarvel]\nA=1\n[Other]\n[Quarvel]\nTopHeight=1\n") << quarvel << topHeight
        << v300 << QByteArray("[Quarvel]\nA=1\nTopHeight=300\n[Other]\n[Quarvel]\nTopHeight=1\n");
    QTest::newRow("only the first of a repeated key is replaced")
        << QByteArray("[Quarvel]\nTopHeight=1\nTopHeight=2\n") << quarvel << topHeight << v300
        << QByteArray("[Quarvel]\nTopHeight=300\nTopHeight=2\n");
    QTest::newRow("key before any section is not the section's")
        << QByteArray("TopHeight=1\n[Quarvel]\n") << quarvel << topHeight << v300
        << QByteArray("TopHeight=1\n[Quarvel]\nTopHeight=300\n");
    QTest::newRow("file missing is created")
        << QByteArray() << quarvel << topHeight << v300
        << "[Quarvel]" + kNativeEol + "TopHeight=300" + kNativeEol;
    QTest::newRow("empty file") << QByteArray("") << quarvel << topHeight << v300
                                << "[Quarvel]" + kNativeEol + "TopHeight=300" + kNativeEol;
    QTest::newRow("BOM-only file keeps its BOM")
        << kBom << quarvel << topHeight << v300
        << kBom + "[Quarvel]" + kNativeEol + "TopHeight=300" + kNativeEol;
    // The file stays in the ANSI code page and its other bytes, even invalid ones, survive.
    QTest::newRow("GBK file stays GBK")
        << QByteArray("; \xC1\xAC\xBD\xD3 \x81\r\n[Database]\r\nUser=x\r\n")
        << QStringLiteral("Database") << QStringLiteral("User") << QStringLiteral("张三")
        << QByteArray("; \xC1\xAC\xBD\xD3 \x81\r\n[Database]\r\nUser=\xD5\xC5\xC8\xFD\r\n");
    QTest::newRow("UTF-8 file stays UTF-8")
        << QStringLiteral("; 连接\n[Database]\nUser=x\n").toUtf8() << QStringLiteral("Database")
        << QStringLiteral("User") << QStringLiteral("张三")
        << QStringLiteral("; 连接\n[Database]\nUser=张三\n").toUtf8();
    QTest::newRow("value that reading would trim is quoted")
        << QByteArray("[Database]\nPw=x\n") << QStringLiteral("Database") << QStringLiteral("Pw")
        << QStringLiteral(" a ") << QByteArray("[Database]\nPw=\" a \"\n");
}

void tst_IniFile::write()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);
#ifdef Q_OS_WIN
    if (QByteArray(QTest::currentDataTag()) == "GBK file stays GBK")
        QSKIP("Depends on a Chinese ANSI code page");
#endif

    const QString path = m_dir.filePath(QStringLiteral("config.ini"));
    QFile::remove(path);
    if (!before.isNull())
        QVERIFY(writeAll(path, before));

    IniFile(path).writeString(section, key, value);
    QCOMPARE(readAll(path), after);
    QCOMPARE(IniFile(path).readString(section, key, QString()), value);
}

void tst_IniFile::writeThenRead_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("value");

    const QByteArray utf8 = QByteArray("[Database]\nUser=u\n");
    const QByteArray gbk = QByteArray("[Database]\n; \xC1\xAC\xBD\xD3\nUser=u\n");
    QTest::newRow("empty") << utf8 << QString("");
    QTest::newRow("leading and trailing blanks") << utf8 << QStringLiteral("  a b  ");
    QTest::newRow("double-quoted") << utf8 << QStringLiteral("\"x\"");
    QTest::newRow("single-quoted") << utf8 << QStringLiteral("'x'");
    QTest::newRow("lone quote") << utf8 << QStringLiteral("\"");
    QTest::newRow("separators") << utf8 << QStringLiteral("a=b;c[d]");
    QTest::newRow("Chinese in UTF-8 file") << utf8 << QStringLiteral("张三");
    QTest::newRow("Chinese in GBK file") << gbk << QStringLiteral("张三");
    QTest::newRow("Chinese in BOM file") << kBom + utf8 << QStringLiteral("张三");
}

void tst_IniFile::writeThenRead()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, value);

    const QString path = m_dir.filePath(QStringLiteral("roundtrip.ini"));
    QVERIFY(writeAll(path, before));
    IniFile ini(path);
    ini.writeString(QStringLiteral("Database"), QStringLiteral("Pw"), value);
    QCOMPARE(
        ini.readString(QStringLiteral("Database"), QStringLiteral("Pw"), QStringLiteral("<def>")),
        value);
    QCOMPARE(ini.readString(QStringLiteral("Database"), QStringLiteral("User"), QString()),
             QStringLiteral("u"));

    ini.writeInteger(QStringLiteral("Quarvel"), QStringLiteral("TopHeight"), -12);
    QCOMPARE(ini.readString(QStringLiteral("Quarvel"), QStringLiteral("TopHeight"), QString()),
             QStringLiteral("-12"));
    QCOMPARE(ini.readInteger(QStringLiteral("Quarvel"), QStringLiteral("TopHeight"), 0), -12);
}

void tst_IniFile::writeFailure_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    const QString quarvel = QStringLiteral("Quarvel");
    const QString topHeight = QStringLiteral("TopHeight");
    const QString v300 = QStringLiteral("300");

    QTest::newRow("missing folder") << "missingFolder" << quarvel << topHeight << v300;
    QTest::newRow("parent is a file") << "parentIsFile" << quarvel << topHeight << v300;
    QTest::newRow("folder takes no new files, file read-only")
        << "lockedFolder" << quarvel << topHeight << v300;
    // Buffered, a failed write this small only shows in the final flush.
    QTest::newRow("disk full") << "diskFull" << quarvel << topHeight << v300;
    QTest::newRow("path is a folder") << "pathIsFolder" << quarvel << topHeight << v300;
    // Line breaks or '=' would write other keys or sections than the caller asked for.
    QTest::newRow("line break in value")
        << "existingFile" << quarvel << topHeight << QStringLiteral("1\n[Database]\nServer=evil");
    QTest::newRow("carriage return in value")
        << "existingFile" << quarvel << topHeight << QStringLiteral("1\rX=2");
    QTest::newRow("'=' in key") << "existingFile" << quarvel << QStringLiteral("Top=Height")
                                << v300;
    QTest::newRow("empty key") << "existingFile" << quarvel << QStringLiteral("  ") << v300;
    QTest::newRow("comment key") << "existingFile" << quarvel << QStringLiteral(";x") << v300;
    QTest::newRow("']' in section") << "existingFile" << QStringLiteral("A]B") << topHeight << v300;
    QTest::newRow("line break in section")
        << "existingFile" << QStringLiteral("A\nB") << topHeight << v300;
}

void tst_IniFile::writeFailure()
{
    QFETCH(QString, setup);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray original = configIni("[Quarvel]\r\nTopHeight=175\r\n");
    QString path;
    QString untouched; // a file that must keep `original`

    if (setup == "missingFolder") {
        // Non-ASCII in the path also shows the message is UTF-8.
        path = dir.filePath(QStringLiteral("配置/config.ini"));
    } else if (setup == "parentIsFile") {
        QVERIFY(writeAll(dir.filePath(QStringLiteral("conf")), original));
        untouched = dir.filePath(QStringLiteral("conf"));
        path = dir.filePath(QStringLiteral("conf/config.ini"));
    } else if (setup == "lockedFolder") {
        const QString folder = dir.filePath(QStringLiteral("conf"));
        path = untouched = folder + QStringLiteral("/config.ini");
        QVERIFY(writeAll(path, original));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    } else if (setup == "pathIsFolder") {
        path = dir.filePath(QStringLiteral("config.ini"));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("config.ini")));
    } else { // existingFile, diskFull
        path = untouched = dir.filePath(QStringLiteral("config.ini"));
        QVERIFY(writeAll(path, original));
    }

    const QString expected = QStringLiteral("Unable to write to ") + QDir::toNativeSeparators(path);
    QString error = QStringLiteral("no IniWriteError thrown");
    {
        std::optional<test::OrdinaryUser> user;
        if (setup == "lockedFolder")
            user.emplace(QFileInfo(path).path());
        std::optional<test::FileSizeLimit> limit;
        if (setup == "diskFull")
            limit.emplace(8);
        try {
            IniFile(path).writeString(section, key, value);
        } catch (const IniWriteError& e) {
            error = e.text();
            QCOMPARE(QString::fromUtf8(e.what()), error);
        }
    }
    QCOMPARE(error, expected);

    if (setup == "lockedFolder")
        QFile::setPermissions(QFileInfo(path).path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!untouched.isEmpty())
        QCOMPARE(readAll(untouched), original);
    // No temporary file left beside it either.
    if (setup == "existingFile" || setup == "diskFull")
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("config.ini")});
}

QTEST_APPLESS_MAIN(tst_IniFile)
#include "tst_IniFile.moc"
