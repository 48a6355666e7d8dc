// quarvel-config, the administrators' companion: what it writes, the program reads and connects
// with; its --check tells the server's own reason when connecting fails.

#include "ConnectionSettings.h"
#include "FakePrompts.h"
#include "MainForm.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace quarvel;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// `fileSizeLimit` > 0: the tool's files may not grow beyond it (a full disk).
Run quarvelConfig(const QStringList& args, const QByteArray& input = {}, qint64 fileSizeLimit = 0)
{
    QProcess process;
    if (fileSizeLimit > 0)
        process.setChildProcessModifier([fileSizeLimit] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = rlim_t(fileSizeLimit);
            setrlimit(RLIMIT_FSIZE, &limit);
        });
    process.start(QStringLiteral(QUARVEL_CONFIG_EXE), args);
    if (!process.waitForStarted())
        return {};
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

Run configure(const QString& folder, const test::TestDb& db, qint64 fileSizeLimit = 0)
{
    return quarvelConfig({folder, QStringLiteral("--database"), db.database,
                          QStringLiteral("--server"), db.host, QStringLiteral("--port"),
                          QString::number(db.port), QStringLiteral("--user"), db.user,
                          QStringLiteral("--password-stdin")},
                         db.password.toUtf8() + '\n', fileSizeLimit);
}

constexpr QFile::Permissions kOthersAccess = QFile::ReadGroup | QFile::WriteGroup |
                                             QFile::ExeGroup | QFile::ReadOther |
                                             QFile::WriteOther | QFile::ExeOther;

} // namespace

class tst_QuarvelConfig : public QObject
{
    Q_OBJECT

private slots:
    void writtenValuesAreReadAndConnectWithProgram();
    void updatesOnlyDatabaseKeys();
    void newFileIsTheOwnersAlone();
    void fullDiskKeepsOldFileAndFails();
    void checkPrintsServerError();
    void rejectsBadInput();
};

void tst_QuarvelConfig::writtenValuesAreReadAndConnectWithProgram()
{
    QTemporaryDir dir;
    const test::TestDb db = test::testDb();
    const Run written = configure(dir.path(), db);
    QCOMPARE(written.exitCode, 0);

    // Scrambled on disk: neither the user nor the password can be read at a glance.
    const QByteArray ini = test::readAll(configIniPath(dir.path()));
    QVERIFY(!ini.contains(db.password.toUtf8()));
    QVERIFY(!ini.contains("User=" + db.user.toUtf8()));
    QVERIFY(ini.contains("Port=" + QByteArray::number(db.port)));

    const ConnectionSettings settings = resolveConnectionSettings(dir.path());
    QCOMPARE(settings.database, db.database);
    QCOMPARE(settings.server, db.host);
    QCOMPARE(settings.user, db.user);
    QCOMPARE(settings.password, db.password);

    const Run shown = quarvelConfig({dir.path(), QStringLiteral("--show")});
    QCOMPARE(shown.exitCode, 0);
    QVERIFY(shown.out.contains(QStringLiteral("user:     ") + db.user));
    QVERIFY2(!shown.out.contains(db.password), "the password is shown only on request");
    QVERIFY(quarvelConfig({dir.path(), QStringLiteral("--show"), QStringLiteral("--show-password")})
                .out.contains(db.password));

    const Run checked = quarvelConfig({dir.path(), QStringLiteral("--check")});
    QCOMPARE(checked.exitCode, 0);

    test::FakePrompts prompts;
    TfrmMain form(dir.path());
    form.setPrompts(&prompts);
    form.show();
    QVERIFY(form.connection().isOpen());
}

void tst_QuarvelConfig::updatesOnlyDatabaseKeys()
{
    QTemporaryDir dir;
    const QByteArray before = "; written by hand\r\n[Quarvel]\r\nTopHeight=240\r\n";
    QVERIFY(test::writeAll(configIniPath(dir.path()), before));
    QCOMPARE(
        quarvelConfig({dir.path(), QStringLiteral("--user"), QStringLiteral("操作员")}).exitCode,
        0);
    const QByteArray after = test::readAll(configIniPath(dir.path()));
    QVERIFY(after.startsWith(before));
    QCOMPARE(readTopHeight(dir.path()), 240);
    QCOMPARE(resolveConnectionSettings(dir.path()).user, QStringLiteral("操作员"));
}

void tst_QuarvelConfig::newFileIsTheOwnersAlone()
{
    QTemporaryDir dir;
    QCOMPARE(configure(dir.path(), test::testDb()).exitCode, 0);
    const QString ini = configIniPath(dir.path());
    QCOMPARE(QFile::permissions(ini) & kOthersAccess, QFile::Permissions());

    // An existing file keeps the mode its owner gave it.
    QTemporaryDir other;
    const QString existing = configIniPath(other.path());
    QVERIFY(test::writeAll(existing, "[Quarvel]\r\nTopHeight=200\r\n"));
    const QFile::Permissions given = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(existing, given));
    QCOMPARE(configure(other.path(), test::testDb()).exitCode, 0);
    QCOMPARE(QFile::permissions(existing) & (kOthersAccess | QFile::ReadOwner | QFile::WriteOwner),
             given);
}

void tst_QuarvelConfig::fullDiskKeepsOldFileAndFails()
{
    QTemporaryDir dir;
    const QString ini = configIniPath(dir.path());
    const QByteArray before = "[Quarvel]\r\nTopHeight=240\r\n";
    QVERIFY(test::writeAll(ini, before));
    const Run written = configure(dir.path(), test::testDb(), 16);
    QCOMPARE(written.exitCode, 1);
    QVERIFY2(written.err.contains(QStringLiteral("Unable to write to ")), qPrintable(written.err));
    QVERIFY2(!written.out.contains(QStringLiteral("wrote")), qPrintable(written.out));
    QCOMPARE(test::readAll(ini), before);
}

void tst_QuarvelConfig::checkPrintsServerError()
{
    QTemporaryDir dir;
    test::TestDb db = test::testDb();
    db.password = QStringLiteral("wrong");
    QCOMPARE(configure(dir.path(), db).exitCode, 0);
    const Run checked = quarvelConfig({dir.path(), QStringLiteral("--check")});
    QCOMPARE(checked.exitCode, 1);
    QVERIFY2(checked.err.contains(QStringLiteral("Access denied for user")),
             qPrintable(checked.err));
}

void tst_QuarvelConfig::rejectsBadInput()
{
    QTemporaryDir dir;
    QCOMPARE(quarvelConfig({dir.path(), QStringLiteral("--port"), QStringLiteral("abc")}).exitCode,
             2);
    QCOMPARE(quarvelConfig({}).exitCode, 2);
    // A folder that can't hold conf/: the INI service's own message.
    QVERIFY(test::writeAll(dir.path() + "/file", "x"));
    const Run blocked =
        quarvelConfig({dir.path() + "/file", QStringLiteral("--user"), QStringLiteral("u")});
    QCOMPARE(blocked.exitCode, 1);
    QVERIFY2(blocked.err.contains(QStringLiteral("Unable to write to")), qPrintable(blocked.err));
    QVERIFY(!QFileInfo::exists(configIniPath(dir.path())));
}

QTEST_MAIN(tst_QuarvelConfig)
#include "tst_QuarvelConfig.moc"
