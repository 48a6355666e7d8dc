#pragma once

#include <QByteArrayView>
#include <QFileDevice>
#include <QString>
#include <optional>

// Replacing a user's file so that it ends up either as it was or as wanted, never half-written.
namespace quarvel {

struct FileCommitOptions
{
    // Permissions of a file that did not exist before (an existing file keeps its own).
    std::optional<QFileDevice::Permissions> newFilePermissions;
};

// The reason for a failed file operation in the program's words: a full disk (or a file-size
// limit) says so, and so do the other common causes; anything else keeps `fallback`.
QString fileErrorText(int errnum, const QString& fallback);
// ENOSPC, EDQUOT or EFBIG.
bool isDiskFullError(int errnum);

// Writes `bytes` to a temporary file beside `path` and renames it over `path`. Writes are
// unbuffered and counted, so a full disk is seen at the write rather than lost in a final flush.
// When the folder takes no new files but the file itself is writable, the file is overwritten in
// place instead, and put back as it was should that fail. Returns false with the reason.
bool commitFile(const QString& path, QByteArrayView bytes, const FileCommitOptions& options,
                QString* reason);

} // namespace quarvel
