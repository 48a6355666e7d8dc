#pragma once

#include <QString>
#include <stdexcept>

namespace quarvel::db {

// The one error type of the database layer. Its text is the server's (or the client library's)
// own message, so it can be shown to the user as it stands.
class DbError : public std::runtime_error
{
public:
    DbError(const QString& message, unsigned int code)
        : std::runtime_error(message.toStdString())
        , m_code(code)
    {
    }

    QString message() const { return QString::fromUtf8(what()); }
    unsigned int code() const { return m_code; }

    // In a text of several statements: which one failed (1-based; 0 when not known) and the rows
    // the ones before it affected.
    int statement() const { return m_statement; }
    quint64 affectedBefore() const { return m_affectedBefore; }
    void setStatement(int statement, quint64 affectedBefore)
    {
        m_statement = statement;
        m_affectedBefore = affectedBefore;
    }

private:
    unsigned int m_code;
    int m_statement = 0;
    quint64 m_affectedBefore = 0;
};

} // namespace quarvel::db
