#pragma once

#include <QString>

namespace quarvel::sheet {

// Reads a finished workbook back before it may replace the user's file: the zip's directory,
// every part inflated and checked against its CRC and size, and every XML part ending with the
// close of its root element (a working file cut short on a full disk leaves a part that is a
// valid zip entry but a truncated document). Returns what is wrong, or an empty string.
QString workbookDefect(const QString& path);

} // namespace quarvel::sheet
