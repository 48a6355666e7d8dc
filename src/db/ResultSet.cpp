#include "ResultSet.h"

#include <mysql.h>

namespace quarvel::db {

ResultSet::ResultSet(MYSQL_RES* stored)
    : m_result(stored)
{
    const unsigned int count = mysql_num_fields(stored);
    const MYSQL_FIELD* fields = mysql_fetch_fields(stored);
    m_fields.reserve(count);
    for (unsigned int i = 0; i < count; ++i)
        m_fields.append({QString::fromUtf8(fields[i].name, fields[i].name_length),
                         fieldKindOf(fields[i].type, fields[i].flags, fields[i].charsetnr),
                         int(fields[i].type), fields[i].flags, fields[i].charsetnr});

    // Walking the list once; mysql_data_seek would walk it from its head for every row.
    m_rows.reserve(size_t(mysql_num_rows(stored)));
    while (MYSQL_ROW row = mysql_fetch_row(stored))
        m_rows.push_back(row);
}

ResultSet::~ResultSet()
{
    if (m_result)
        mysql_free_result(m_result);
}

ResultSet::Cell ResultSet::cell(int row, int column) const
{
    char** fields = m_rows[size_t(row)];
    const char* data = fields[column];
    if (!data)
        return {};
    const int count = columnCount();
    int next = column + 1;
    while (next < count && !fields[next])
        ++next;
    return {data, static_cast<unsigned long>(fields[next] - data - 1)};
}

} // namespace quarvel::db
