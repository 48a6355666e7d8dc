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

private:
    unsigned int m_code;
};

} // namespace quarvel::db
