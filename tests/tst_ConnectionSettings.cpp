#include "ConnectionSettings.h"
#include "SettingCodec.h"
#include "TestSupport.h"

#include <QDir>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

using namespace quarvel;

using Files = QMap<QString, QByteArray>; // relative path -> content

class tst_ConnectionSettings : public QObject
{
    Q_OBJECT

private slots:
    void paths();
    void resolve_data();
    void resolve();
    void tlsSettings_data();
    void tlsSettings();
    void topHeight_data();
    void topHeight();
};

static QByteArray enc(const QByteArray& plain)
{
    return EncodeSetting(plain).toLatin1();
}

static QByteArray config(const QByteArray& databaseSection)
{
    return "; Quarvel\r\n[Database]\r\n" + databaseSection + "\r\n[Quarvel]\r\nTopHeight=200\r\n";
}

static const QString kConfig = QStringLiteral("conf/config.ini");
static const QString kExe = QStringLiteral("Velmora.exe");
static const QString kMyIni = QStringLiteral("kavromysql/my.ini");

static QString materialize(const QTemporaryDir& dir, const Files& files)
{
    for (auto it = files.begin(); it != files.end(); ++it) {
        if (!test::writeAll(dir.filePath(it.key()), it.value()))
            return it.key();
    }
    return {};
}

void tst_ConnectionSettings::paths()
{
    const QString base = QStringLiteral("/opt/app");
    QCOMPARE(configIniPath(base), QStringLiteral("/opt/app/conf/config.ini"));
    QCOMPARE(siblingExePath(base), QStringLiteral("/opt/app/Velmora.exe"));
    QCOMPARE(siblingMyIniPath(base), QStringLiteral("/opt/app/kavromysql/my.ini"));
}

void tst_ConnectionSettings::resolve_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<bool>("siblingMode");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");

    const QByteArray full = "DatabaseName=" + enc("sales") + "\r\nServer=" + enc("10.0.0.5") +
                            "\r\nPort=3307\r\nUser=" + enc("root") + "\r\nPw=" + enc("s3cret");
    const QByteArray credentials = "User=" + enc("root") + "\r\nPw=" + enc("s3cret");
    const QByteArray myIni = "[client]\r\nport=3399\r\n[mysqld]\r\nbasedir=.\r\nport = 3310\r\n";
    const QString none;
    const QString local = QStringLiteral("127.0.0.1");
    const QString velmora = QStringLiteral("velmora");
    const QString root = QStringLiteral("root");
    const QString secret = QStringLiteral("s3cret");

    QTest::newRow("normal: full values")
        << Files{{kConfig, config(full)}} << false << QStringLiteral("sales")
        << QStringLiteral("10.0.0.5") << 3307 << root << secret;
    QTest::newRow("normal: hex port")
        << Files{{kConfig, config("Port=0xCEB")}} << false << none << none << 3307 << none << none;
    QTest::newRow("normal: port not a number")
        << Files{{kConfig, config("Port=abc")}} << false << none << none << 3306 << none << none;
    QTest::newRow("normal: port empty")
        << Files{{kConfig, config("Port=")}} << false << none << none << 3306 << none << none;
    QTest::newRow("normal: port beyond 65535")
        << Files{{kConfig, config("Port=70000")}} << false << none << none << 3306 << none << none;
    QTest::newRow("normal: negative port")
        << Files{{kConfig, config("Port=-1")}} << false << none << none << 3306 << none << none;
    QTest::newRow("normal: database name empty")
        << Files{{kConfig, config("DatabaseName=\r\n" + credentials)}} << false << none << none
        << 3306 << root << secret;
    QTest::newRow("normal: no config.ini") << Files{{QStringLiteral("conf/other.ini"), "x"}}
                                           << false << none << none << 3306 << none << none;
    QTest::newRow("normal: no conf folder")
        << Files{} << false << none << none << 3306 << none << none;
    QTest::newRow("normal: lower-case velmora.exe is another file")
        << Files{{QStringLiteral("velmora.exe"), ""}, {kConfig, config(full)}} << false
        << QStringLiteral("sales") << QStringLiteral("10.0.0.5") << 3307 << root << secret;

    QTest::newRow("sibling: defaults, port from my.ini, Server and Port ignored")
        << Files{{kExe, "MZ"},
                 {kMyIni, myIni},
                 {kConfig, config("Server=" + enc("10.0.0.5") + "\r\nPort=3307\r\n" + credentials)}}
        << true << velmora << local << 3310 << root << secret;
    QTest::newRow("sibling: database name from config")
        << Files{{kExe, ""}, {kMyIni, myIni}, {kConfig, config(full)}} << true
        << QStringLiteral("sales") << local << 3310 << root << secret;
    QTest::newRow("sibling: database name empty")
        << Files{{kExe, ""}, {kMyIni, myIni}, {kConfig, config("DatabaseName=")}} << true << none
        << local << 3310 << none << none;
    QTest::newRow("sibling: my.ini missing") << Files{{kExe, ""}, {kConfig, config(credentials)}}
                                             << true << velmora << local << 3306 << root << secret;
    QTest::newRow("sibling: port only in another section")
        << Files{{kExe, ""}, {kMyIni, "[client]\nport=3399\n[mysqld]\nbasedir=.\n"}} << true
        << velmora << local << 3306 << none << none;
    QTest::newRow("sibling: port not a number")
        << Files{{kExe, ""}, {kMyIni, "[mysqld]\nport=abc\n"}} << true << velmora << local << 3306
        << none << none;
    QTest::newRow("sibling: no conf folder")
        << Files{{kExe, ""}, {kMyIni, myIni}} << true << velmora << local << 3310 << none << none;
    // The product's executable is a file; a folder of that name is something else.
    QTest::newRow("normal: Velmora.exe is a folder")
        << Files{{kExe + QStringLiteral("/readme.txt"), ""}, {kMyIni, myIni}} << false << none
        << none << 3306 << none << none;
    // The server's own option-file reader ends the value at an inline comment.
    QTest::newRow("sibling: my.ini port with a # comment")
        << Files{{kExe, ""}, {kMyIni, "[mysqld]\r\nport=3307 # main\r\n"}} << true << velmora
        << local << 3307 << none << none;
    QTest::newRow("sibling: my.ini port with a ; comment")
        << Files{{kExe, ""}, {kMyIni, "[mysqld]\r\nport=3307;main\r\n"}} << true << velmora << local
        << 3307 << none << none;
    QTest::newRow("sibling: my.ini port quoted, then a comment")
        << Files{{kExe, ""}, {kMyIni, "[mysqld]\r\nport = \"3308\"  # main\r\n"}} << true << velmora
        << local << 3308 << none << none;

    // The plain bytes were written on a Chinese Windows in the ANSI code page, and the file
    // itself has an ANSI comment.
    QTest::newRow("GBK user and password")
        << Files{{kConfig, "; \xC1\xAC\xBD\xD3\xC9\xE8\xD6\xC3\r\n" +
                               config("User=" + enc("\xD5\xC5\xC8\xFD") + "\r\nPw=" +
                                      enc("\xC3\xDC\xC2\xEB"
                                          "123"))}}
        << false << none << none << 3306 << QStringLiteral("张三") << QStringLiteral("密码123");
    QTest::newRow("UTF-8 user and password")
        << Files{{kConfig, config("User=" + enc(QStringLiteral("张三").toUtf8()) +
                                  "\r\nPw=" + enc(QStringLiteral("密码123").toUtf8()))}}
        << false << none << none << 3306 << QStringLiteral("张三") << QStringLiteral("密码123");
}

void tst_ConnectionSettings::resolve()
{
    QFETCH(Files, files);
    QFETCH(bool, siblingMode);
    QFETCH(QString, database);
    QFETCH(QString, server);
    QFETCH(int, port);
    QFETCH(QString, user);
    QFETCH(QString, password);
#ifdef Q_OS_WIN
    if (QByteArray(QTest::currentDataTag()).startsWith("GBK"))
        QSKIP("Depends on a Chinese ANSI code page");
    if (QByteArray(QTest::currentDataTag()).contains("lower-case"))
        QSKIP("File names are case-insensitive here");
#endif

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(materialize(dir, files), QString());

    const ConnectionSettings s = resolveConnectionSettings(dir.path());
    QCOMPARE(s.siblingMode, siblingMode);
    QCOMPARE(s.database, database);
    QCOMPARE(s.server, server);
    QCOMPARE(s.port, port);
    QCOMPARE(s.user, user);
    QCOMPARE(s.password, password);
}

void tst_ConnectionSettings::tlsSettings_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<QString>("caFile"); // relative to the base folder; empty: none
    QTest::newRow("absent: not verified") << Files{{kConfig, config("Port=1")}} << false << "";
    QTest::newRow("verify, the system's authorities")
        << Files{{kConfig, config("SslVerifyServerCert=1")}} << true << "";
    QTest::newRow("verify against a file beside config.ini")
        << Files{{kConfig, config("SslVerifyServerCert=1\r\nSslCa=ca.pem")}} << true
        << "conf/ca.pem";
    QTest::newRow("0 is off") << Files{{kConfig, config("SslVerifyServerCert=0")}} << false << "";
    QTest::newRow("sibling mode reads them too")
        << Files{{kExe, ""}, {kConfig, config("SslVerifyServerCert=1\r\nSslCa=../certs/ca.pem")}}
        << true << "certs/ca.pem";
}

void tst_ConnectionSettings::tlsSettings()
{
    QFETCH(Files, files);
    QFETCH(bool, verify);
    QFETCH(QString, caFile);
    QTemporaryDir dir;
    QCOMPARE(materialize(dir, files), QString());
    const ConnectionSettings s = resolveConnectionSettings(dir.path());
    QCOMPARE(s.verifyServerCert, verify);
    QCOMPARE(s.caFile, caFile.isEmpty() ? QString() : QDir(dir.path()).filePath(caFile));
}

void tst_ConnectionSettings::topHeight_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no config.ini
    QTest::addColumn<int>("expected");

    QTest::newRow("no config.ini") << QByteArray() << 175;
    QTest::newRow("no [Quarvel] section") << QByteArray("[Database]\nServer=x\n") << 175;
    QTest::newRow("key absent") << QByteArray("[Quarvel]\nOther=1\n") << 175;
    QTest::newRow("decimal") << QByteArray("[Quarvel]\r\nTopHeight=300\r\n") << 300;
    QTest::newRow("hex") << QByteArray("[Quarvel]\nTopHeight=0x12C\n") << 300;
    QTest::newRow("not a number") << QByteArray("[Quarvel]\nTopHeight=abc\n") << 175;
    QTest::newRow("empty") << QByteArray("[Quarvel]\nTopHeight=\n") << 175;
}

void tst_ConnectionSettings::topHeight()
{
    QFETCH(QByteArray, content);
    QFETCH(int, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!content.isNull())
        QVERIFY(test::writeAll(dir.filePath(kConfig), content));
    QCOMPARE(readTopHeight(dir.path()), expected);
}

QTEST_APPLESS_MAIN(tst_ConnectionSettings)
#include "tst_ConnectionSettings.moc"
