#pragma once

#include "Connection.h"

#include <QByteArray>
#include <QString>

namespace quarvel::test {

// Folder of the checked-in fixtures (tests/data), from QUARVEL_TEST_DATA.
QString dataDir();

// Whole file as bytes; empty when it can't be read.
QByteArray readAll(const QString& path);

// Writes bytes to path, creating parent folders. Returns false on error.
bool writeAll(const QString& path, const QByteArray& bytes);

// The throwaway server that scripts/testdb.sh starts (QUARVEL_TEST_DB_* override the defaults).
struct TestDb
{
    QString host;
    int port;
    QString user;
    QString password;
    QString database;
};
TestDb testDb();

// The test server's parameters for a direct connection.
db::ConnectionParams testDbParams();

// Runs statements for a test's own setup or checks; throws DbError.
void execSql(db::Connection& connection, const QString& sql);

// The first cell of the first row of a query, as the server sent it.
QByteArray firstCell(db::Connection& connection, const QString& sql);

// Writes <folder>/conf/config.ini with the [Database] keys, scrambled as the program reads them.
bool writeConnectionConfig(const QString& folder, const TestDb& db);

} // namespace quarvel::test
