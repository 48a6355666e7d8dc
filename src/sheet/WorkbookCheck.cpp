#include "WorkbookCheck.h"

#include <QByteArray>
#include <QFile>
#include <zlib.h>

namespace quarvel::sheet {

namespace {

constexpr quint32 kEndOfDirectory = 0x06054b50;
constexpr quint32 kDirectoryEntry = 0x02014b50;
constexpr quint32 kLocalHeader = 0x04034b50;
constexpr qsizetype kEndRecordSize = 22;
constexpr qsizetype kChunk = 256 * 1024;
// Enough of a part's start to name its root element, and of its end to see that element closed.
constexpr qsizetype kHeadBytes = 1024;
constexpr qsizetype kTailBytes = 256;

quint32 le16(const QByteArray& bytes, qsizetype at)
{
    return quint32(quint8(bytes[at])) | quint32(quint8(bytes[at + 1])) << 8;
}

quint32 le32(const QByteArray& bytes, qsizetype at)
{
    return le16(bytes, at) | le16(bytes, at + 2) << 16;
}

struct Entry
{
    QString name;
    quint32 method = 0;
    quint32 crc = 0;
    quint32 packedSize = 0;
    quint32 size = 0;
    quint32 headerOffset = 0;
};

// The element a document opens first, after its declaration and comments.
QByteArray rootName(const QByteArray& head)
{
    qsizetype at = 0;
    for (;;) {
        at = head.indexOf('<', at);
        if (at < 0 || at + 1 >= head.size())
            return {};
        const char next = head[at + 1];
        if (next != '?' && next != '!')
            break;
        ++at;
    }
    qsizetype end = at + 1;
    while (end < head.size() && head[end] != ' ' && head[end] != '>' && head[end] != '/' &&
           head[end] != '\r' && head[end] != '\n' && head[end] != '\t')
        ++end;
    return head.sliced(at + 1, end - at - 1);
}

QString checkPart(QFile& file, const Entry& entry)
{
    QByteArray local(30, '\0');
    if (!file.seek(entry.headerOffset) || file.read(local.data(), 30) != 30 ||
        le32(local, 0) != kLocalHeader)
        return QStringLiteral("part %1: no local header").arg(entry.name);
    const qint64 dataStart = qint64(entry.headerOffset) + 30 + le16(local, 26) + le16(local, 28);
    if (!file.seek(dataStart))
        return QStringLiteral("part %1: cut short").arg(entry.name);

    z_stream stream{};
    if (entry.method == Z_DEFLATED && inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return QStringLiteral("out of memory");
    QByteArray in(kChunk, '\0');
    QByteArray out(kChunk, '\0');
    QByteArray head;
    QByteArray tail;
    uLong crc = crc32(0, nullptr, 0);
    quint64 produced = 0;
    qint64 left = entry.packedSize;
    int status = Z_OK;
    const auto take = [&](const char* data, qsizetype size) {
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data), uInt(size));
        produced += quint64(size);
        if (head.size() < kHeadBytes)
            head.append(data, qMin(size, kHeadBytes - head.size()));
        tail.append(data, size);
        if (tail.size() > kTailBytes)
            tail.remove(0, tail.size() - kTailBytes);
    };
    while (left > 0 && status != Z_STREAM_END) {
        const qint64 got = file.read(in.data(), qMin<qint64>(left, kChunk));
        if (got <= 0) {
            status = Z_DATA_ERROR;
            break;
        }
        left -= got;
        if (entry.method != Z_DEFLATED) {
            take(in.constData(), got);
            continue;
        }
        stream.next_in = reinterpret_cast<Bytef*>(in.data());
        stream.avail_in = uInt(got);
        do {
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = uInt(out.size());
            status = inflate(&stream, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END)
                break;
            take(out.constData(), out.size() - stream.avail_out);
        } while (stream.avail_out == 0 && status != Z_STREAM_END);
        if (status != Z_OK && status != Z_STREAM_END)
            break;
    }
    if (entry.method == Z_DEFLATED) {
        inflateEnd(&stream);
        if (status != Z_STREAM_END)
            return QStringLiteral("part %1: damaged").arg(entry.name);
    } else if (entry.method != 0 || left != 0) {
        return QStringLiteral("part %1: damaged").arg(entry.name);
    }
    if (produced != entry.size || crc != entry.crc)
        return QStringLiteral("part %1: damaged").arg(entry.name);

    if (entry.name.endsWith(QLatin1String(".xml")) || entry.name.endsWith(QLatin1String(".rels"))) {
        const QByteArray root = rootName(head);
        if (root.isEmpty() || !tail.trimmed().endsWith("</" + root + '>'))
            return QStringLiteral("part %1: cut short").arg(entry.name);
    }
    return {};
}

} // namespace

QString workbookDefect(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    const qint64 size = file.size();
    // The end record, after which only a comment of up to 64 KiB may follow.
    const qint64 searched = qMin<qint64>(size, kEndRecordSize + 0xFFFF);
    if (searched < kEndRecordSize || !file.seek(size - searched))
        return QStringLiteral("no zip directory");
    const QByteArray end = file.read(searched);
    qsizetype at = end.size() - kEndRecordSize;
    while (at >= 0 && le32(end, at) != kEndOfDirectory)
        --at;
    if (at < 0)
        return QStringLiteral("no zip directory");
    const quint32 count = le16(end, at + 10);
    const quint32 directorySize = le32(end, at + 12);
    const quint32 directoryOffset = le32(end, at + 16);
    if (count == 0 || qint64(directoryOffset) + directorySize > size - searched + at ||
        !file.seek(directoryOffset))
        return QStringLiteral("damaged zip directory");
    const QByteArray directory = file.read(directorySize);
    if (directory.size() != qsizetype(directorySize))
        return QStringLiteral("damaged zip directory");

    QList<Entry> entries;
    qsizetype pos = 0;
    for (quint32 i = 0; i < count; ++i) {
        if (pos + 46 > directory.size() || le32(directory, pos) != kDirectoryEntry)
            return QStringLiteral("damaged zip directory");
        Entry entry;
        entry.method = le16(directory, pos + 10);
        entry.crc = le32(directory, pos + 16);
        entry.packedSize = le32(directory, pos + 20);
        entry.size = le32(directory, pos + 24);
        const qsizetype nameLength = le16(directory, pos + 28);
        const qsizetype rest = nameLength + le16(directory, pos + 30) + le16(directory, pos + 32);
        entry.headerOffset = le32(directory, pos + 42);
        if (pos + 46 + rest > directory.size())
            return QStringLiteral("damaged zip directory");
        entry.name = QString::fromUtf8(directory.sliced(pos + 46, nameLength));
        entries.append(entry);
        pos += 46 + rest;
    }
    for (const Entry& entry : entries)
        if (const QString defect = checkPart(file, entry); !defect.isEmpty())
            return defect;
    return {};
}

} // namespace quarvel::sheet
