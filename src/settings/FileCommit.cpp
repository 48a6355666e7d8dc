#include "FileCommit.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

namespace quarvel {

bool isDiskFullError(int errnum)
{
#ifdef EDQUOT
    if (errnum == EDQUOT)
        return true;
#endif
    return errnum == ENOSPC || errnum == EFBIG;
}

QString fileErrorText(int errnum, const QString& fallback)
{
    if (isDiskFullError(errnum))
        return QStringLiteral("磁盘已满，无法写入");
    switch (errnum) {
    case ENOENT:
        return QStringLiteral("文件或文件夹不存在");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有访问权限");
    case EROFS:
        return QStringLiteral("磁盘为只读");
    case EISDIR:
        return QStringLiteral("这是一个文件夹");
    default:
        return fallback;
    }
}

namespace {

// The existing file's blocks are reused: the new bytes go over the old ones before the file is
// cut or grown, so a disk that fills up can only stop the growing part, and the old bytes can be
// written back into the blocks they came from.
bool overwriteInPlace(const QString& path, QByteArrayView bytes, QString* reason)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        *reason = fileErrorText(errno, file.errorString());
        return false;
    }
    const QByteArray old = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *reason = file.errorString();
        return false;
    }
    errno = 0;
    if (file.seek(0) && file.write(bytes.data(), bytes.size()) == bytes.size() &&
        file.resize(bytes.size()))
        return true;
    *reason = fileErrorText(errno, file.errorString());
    if (!file.seek(0) || file.write(old) != old.size() || !file.resize(old.size()))
        *reason +=
            QStringLiteral(" (the old content could not be put back: %1)").arg(file.errorString());
    return false;
}

} // namespace

bool commitFile(const QString& path, QByteArrayView bytes, const FileCommitOptions& options,
                QString* reason)
{
    const bool existed = QFileInfo::exists(path);
    QSaveFile file(path);
    // Buffered, a failed final flush inside commit() goes unreported (Qt 6.4) and a truncated
    // file replaces the old one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (existed && QFileInfo(path).isFile())
            return overwriteInPlace(path, bytes, reason);
        *reason = fileErrorText(errno, file.errorString());
        return false;
    }
    if (!existed && options.newFilePermissions &&
        !file.setPermissions(*options.newFilePermissions)) {
        *reason = file.errorString();
        file.cancelWriting();
        return false;
    }
    errno = 0;
    if (file.write(bytes.data(), bytes.size()) != bytes.size()) {
        *reason = fileErrorText(errno, file.errorString());
        file.cancelWriting();
        return false;
    }
    errno = 0;
    if (!file.commit()) {
        *reason = fileErrorText(errno, file.errorString());
        return false;
    }
    return true;
}

} // namespace quarvel
