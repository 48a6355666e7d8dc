#include "TestSupport.h"

#include "SettingCodec.h"
#include "Statement.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace quarvel::test {

QString dataDir()
{
    return qEnvironmentVariable("QUARVEL_TEST_DATA", QStringLiteral(QUARVEL_TEST_DATA_DEFAULT));
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

TestDb testDb()
{
    return {qEnvironmentVariable("QUARVEL_TEST_DB_HOST", QStringLiteral("127.0.0.1")),
            qEnvironmentVariableIntValue("QUARVEL_TEST_DB_PORT") > 0
                ? qEnvironmentVariableIntValue("QUARVEL_TEST_DB_PORT")
                : 33306,
            qEnvironmentVariable("QUARVEL_TEST_DB_USER", QStringLiteral("quarvel")),
            qEnvironmentVariable("QUARVEL_TEST_DB_PASSWORD", QStringLiteral("quarvel-test")),
            qEnvironmentVariable("QUARVEL_TEST_DB_NAME", QStringLiteral("velmora"))};
}

db::ConnectionParams testDbParams()
{
    const TestDb db = testDb();
    return {db.database, db.host, db.port, db.user, db.password, false, {}};
}

QString testDbCaFile()
{
    return qEnvironmentVariable("QUARVEL_TEST_DB_CA", QStringLiteral(QUARVEL_TEST_DB_CA_DEFAULT));
}

void execSql(db::Connection& connection, const QString& sql)
{
    db::Command command(connection);
    command.setSql(sql);
    command.execute();
}

QByteArray firstCell(db::Connection& connection, const QString& sql)
{
    db::Query query;
    query.setConnection(&connection);
    query.setSql(sql);
    query.open();
    return query.result()->cell(0, 0).bytes().toByteArray();
}

#ifdef Q_OS_UNIX
FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    m_old = qint64(limit.rlim_cur);
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = rlim_t(bytes);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        qFatal("setrlimit(RLIMIT_FSIZE) failed");
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = rlim_t(m_old);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, m_oldHandler);
}

namespace {
constexpr uid_t kNobody = 65534;
}

OrdinaryUser::OrdinaryUser(const QString& folder)
{
    if (geteuid() != 0)
        return;
    const auto handOver = [](const QString& path) {
        if (chown(QFile::encodeName(path).constData(), kNobody, kNobody) != 0)
            qFatal("chown %s failed", qPrintable(path));
    };
    handOver(folder);
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        handOver(it.next());
    // The folder's parents must let that user through.
    for (QDir dir(folder); dir.cdUp() && !dir.isRoot();)
        QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther);
    if (setegid(kNobody) != 0 || seteuid(kNobody) != 0)
        qFatal("seteuid failed");
    m_switched = true;
}

OrdinaryUser::~OrdinaryUser()
{
    if (m_switched && (seteuid(0) != 0 || setegid(0) != 0))
        qFatal("could not become root again");
}
#endif

bool writeConnectionConfig(const QString& folder, const TestDb& db)
{
    const QByteArray ini =
        "[Database]\r\nDatabaseName=" + EncodeSetting(db.database.toUtf8()).toLatin1() +
        "\r\nServer=" + EncodeSetting(db.host.toUtf8()).toLatin1() +
        "\r\nPort=" + QByteArray::number(db.port) +
        "\r\nUser=" + EncodeSetting(db.user.toUtf8()).toLatin1() +
        "\r\nPw=" + EncodeSetting(db.password.toUtf8()).toLatin1() + "\r\n";
    return writeAll(folder + QStringLiteral("/conf/config.ini"), ini);
}

} // namespace quarvel::test
