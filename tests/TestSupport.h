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

// The authority that signed the test server's certificate (scripts/testdb.sh makes both).
QString testDbCaFile();

// Runs statements for a test's own setup or checks; throws DbError.
void execSql(db::Connection& connection, const QString& sql);

// The first cell of the first row of a query, as the server sent it.
QByteArray firstCell(db::Connection& connection, const QString& sql);

// Files may grow to `bytes` at most while this lives: a full disk, even for root. Keep test
// output out of its lifetime (the log is a file too).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    qint64 m_old;
    void (*m_oldHandler)(int);
};

// While this lives the process acts as an ordinary user, so that file permissions apply even
// when the tests run as root; `folder` and everything in it is handed to that user first. Does
// nothing for a user that is not root.
class OrdinaryUser
{
public:
    explicit OrdinaryUser(const QString& folder);
    ~OrdinaryUser();
    OrdinaryUser(const OrdinaryUser&) = delete;
    OrdinaryUser& operator=(const OrdinaryUser&) = delete;

private:
    bool m_switched = false;
};

// Writes <folder>/conf/config.ini with the [Database] keys, scrambled as the program reads them.
bool writeConnectionConfig(const QString& folder, const TestDb& db);

} // namespace quarvel::test
