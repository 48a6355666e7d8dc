#include "Statement.h"

#include <errmsg.h>
#include <mysql.h>

namespace quarvel::db {

void Command::execute()
{
    m_rowsAffected = 0;
    m_rowsAffected = m_connection.run(m_sql, [](MYSQL_RES* stored) { mysql_free_result(stored); });
}

std::shared_ptr<const ResultSet> openResult(Connection& connection, const QString& text)
{
    std::unique_ptr<ResultSet> first;
    connection.run(text, [&first](MYSQL_RES* stored) {
        if (first)
            mysql_free_result(stored);
        else
            first = std::make_unique<ResultSet>(stored);
    });
    return first ? std::move(first) : std::make_unique<ResultSet>();
}

void Query::open()
{
    close();
    if (!m_connection)
        throw DbError(QStringLiteral("The query has no connection"), CR_CONNECTION_ERROR);
    setResult(openResult(*m_connection, m_sql));
}

void Query::setResult(std::shared_ptr<const ResultSet> result)
{
    m_result = std::move(result);
    emit resultChanged();
}

void Query::close()
{
    if (!m_result)
        return;
    m_result.reset();
    emit resultChanged();
}

} // namespace quarvel::db
