#include "TestSupport.h"

#include "SettingCodec.h"
#include "Statement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    return {db.database, db.host, db.port, db.user, db.password};
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
