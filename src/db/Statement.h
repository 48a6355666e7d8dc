#pragma once

#include "Connection.h"
#include "ResultSet.h"

#include <QObject>
#include <memory>

namespace quarvel::db {

// A statement text run for its effect: the number of rows it changed is kept.
class Command
{
public:
    explicit Command(Connection& connection)
        : m_connection(connection)
    {
    }

    void setSql(const QString& text) { m_sql = text; }
    const QString& sql() const { return m_sql; }

    // Throws DbError with the server's message. Several statements add up their affected rows;
    // the rows of statements that return a result are read and dropped.
    void execute();
    quint64 rowsAffected() const { return m_rowsAffected; }

private:
    Connection& m_connection;
    QString m_sql;
    quint64 m_rowsAffected = 0;
};

// Runs the text and keeps the first result that has columns (an empty result when none has);
// later results are read and dropped. Throws DbError.
std::shared_ptr<const ResultSet> openResult(Connection& connection, const QString& text);

// A statement text run for its rows. Once opened it holds the complete first result that has
// columns; later results of the same text are read and dropped.
class Query : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    void setConnection(Connection* connection) { m_connection = connection; }
    void setSql(const QString& text) { m_sql = text; }
    const QString& sql() const { return m_sql; }

    // Throws DbError with the server's message; the query stays closed then.
    void open();
    // Harmless when already closed.
    void close();

    // A result made elsewhere (on the session's worker) becomes the query's open result.
    void setResult(std::shared_ptr<const ResultSet> result);

    bool isActive() const { return m_result != nullptr; }
    int recordCount() const { return m_result ? m_result->rowCount() : 0; }
    // Null while closed.
    const ResultSet* result() const { return m_result.get(); }
    const std::shared_ptr<const ResultSet>& sharedResult() const { return m_result; }

signals:
    // The result was replaced or dropped.
    void resultChanged();

private:
    Connection* m_connection = nullptr;
    QString m_sql;
    std::shared_ptr<const ResultSet> m_result;
};

} // namespace quarvel::db
