#include "Statement.h"

#include <errmsg.h>
#include <mysql.h>

namespace quarvel::db {

void Command::execute()
{
    m_rowsAffected = 0;
    m_rowsAffected = m_connection.run(m_sql);
}

namespace {

// Keeps the first result with columns in a store of its own.
class KeepFirst : public ResultSink
{
public:
    std::shared_ptr<ResultSet> begin(QList<Field> fields) override
    {
        store = std::make_shared<ResultSet>(std::move(fields));
        return store;
    }
    std::shared_ptr<ResultSet> store;
};

} // namespace

std::shared_ptr<const ResultSet> openResult(Connection& connection, const QString& text)
{
    KeepFirst sink;
    connection.run(text, &sink);
    return sink.store ? std::move(sink.store) : std::make_shared<ResultSet>();
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
