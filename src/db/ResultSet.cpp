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

    // mysql_data_seek walks the row list from its head; remember where each row starts instead.
    m_rows.reserve(size_t(mysql_num_rows(stored)));
    for (;;) {
        MYSQL_ROW_OFFSET offset = mysql_row_tell(stored);
        if (!mysql_fetch_row(stored))
            break;
        m_rows.push_back(offset);
    }
}

ResultSet::~ResultSet()
{
    if (m_result)
        mysql_free_result(m_result);
}

void ResultSet::seek(int row) const
{
    if (row == m_currentRow)
        return;
    mysql_row_seek(m_result, m_rows[size_t(row)]);
    m_rowData = mysql_fetch_row(m_result);
    m_lengths = mysql_fetch_lengths(m_result);
    m_currentRow = row;
}

ResultSet::Cell ResultSet::cell(int row, int column) const
{
    seek(row);
    return {m_rowData[column], m_lengths[column]};
}

} // namespace quarvel::db
