#pragma once

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

// Writes <folder>/conf/config.ini with the [Database] keys, scrambled as the program reads them.
bool writeConnectionConfig(const QString& folder, const TestDb& db);

} // namespace quarvel::test
