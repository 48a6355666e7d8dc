#pragma once

#include <QString>

namespace quarvel {

// The application title: window caption, and caption of the error report and of the
// read-only refusal box.
inline QString appTitle()
{
    return QStringLiteral("岚拓数据库执行工具");
}

} // namespace quarvel
