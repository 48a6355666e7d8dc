#include "IniFile.h"

#include "FileCommit.h"
#include "LegacyText.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <climits>
#include <optional>
#include <utility>

namespace quarvel {

namespace {

enum class LineKind
{
    Other,
    Section,
    Key
};

struct Line
{
    LineKind kind = LineKind::Other;
    QString name;
    QString value;
    // Byte offsets into the file: start, end of the text, end including the line ending.
    qsizetype begin = 0;
    qsizetype textEnd = 0;
    qsizetype end = 0;
};

struct Document
{
    QByteArray bytes;
    TextEncoding encoding = TextEncoding::Utf8;
    qsizetype bodyStart = 0; // after the BOM
    QList<Line> lines;
    // False when the decoded text and the raw bytes disagree on the line count; writing would
    // then risk touching bytes it shouldn't, so it is refused.
    bool linesMatchBytes = true;
};

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString unquoted(const QString& value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        return value.sliced(1, value.size() - 2);
    return value;
}

void classify(QStringView lineText, Line& line)
{
    const QString t = lineText.trimmed().toString();
    if (t.startsWith(u'[')) {
        QString name = t.sliced(1);
        const qsizetype close = name.indexOf(u']');
        if (close >= 0)
            name.truncate(close);
        line.kind = LineKind::Section;
        line.name = name.trimmed();
        return;
    }
    if (t.startsWith(u';'))
        return;
    const qsizetype eq = t.indexOf(u'=');
    if (eq < 0)
        return;
    const QString name = t.first(eq).trimmed();
    if (name.isEmpty())
        return;
    line.kind = LineKind::Key;
    line.name = name;
    line.value = unquoted(t.sliced(eq + 1).trimmed());
}

// '\n' is a single byte in UTF-8 and in the ANSI code pages and never part of a multi-byte
// character, so the decoded text and the raw bytes split into the same lines.
Document parse(QByteArray bytes)
{
    Document doc;
    doc.bytes = std::move(bytes);
    const QString text = decodeLegacyText(doc.bytes, &doc.encoding);
    doc.bodyStart = doc.encoding == TextEncoding::Utf8Bom ? 3 : 0;

    qsizetype pos = doc.bodyStart;
    while (pos < doc.bytes.size()) {
        Line line;
        line.begin = pos;
        const qsizetype nl = doc.bytes.indexOf('\n', pos);
        if (nl < 0) {
            line.textEnd = line.end = doc.bytes.size();
        } else {
            line.end = nl + 1;
            line.textEnd = (nl > pos && doc.bytes.at(nl - 1) == '\r') ? nl - 1 : nl;
        }
        doc.lines.append(line);
        pos = line.end;
    }

    qsizetype index = 0;
    qsizetype textPos = 0;
    while (textPos < text.size()) {
        qsizetype nl = text.indexOf(u'\n', textPos);
        if (nl < 0)
            nl = text.size();
        if (index < doc.lines.size())
            classify(QStringView(text).sliced(textPos, nl - textPos), doc.lines[index]);
        ++index;
        textPos = nl + 1;
    }
    doc.linesMatchBytes = index == doc.lines.size();
    return doc;
}

// Index of the first section called `section`, or -1.
qsizetype findSection(const Document& doc, const QString& section)
{
    for (qsizetype i = 0; i < doc.lines.size(); ++i) {
        if (doc.lines[i].kind == LineKind::Section && sameName(doc.lines[i].name, section))
            return i;
    }
    return -1;
}

// One past the last line of the section whose header is at `header`.
qsizetype sectionEnd(const Document& doc, qsizetype header)
{
    qsizetype i = header + 1;
    while (i < doc.lines.size() && doc.lines[i].kind != LineKind::Section)
        ++i;
    return i;
}

qsizetype findKey(const Document& doc, qsizetype header, const QString& key)
{
    const qsizetype end = sectionEnd(doc, header);
    for (qsizetype i = header + 1; i < end; ++i) {
        if (doc.lines[i].kind == LineKind::Key && sameName(doc.lines[i].name, key))
            return i;
    }
    return -1;
}

const Line* findEntry(const Document& doc, const QString& section, const QString& key)
{
    const QString name = key.trimmed();
    if (name.isEmpty())
        return nullptr;
    const qsizetype header = findSection(doc, section.trimmed());
    if (header < 0)
        return nullptr;
    const qsizetype i = findKey(doc, header, name);
    return i < 0 ? nullptr : &doc.lines[i];
}

QByteArray lineEnding(const Document& doc)
{
    const qsizetype nl = doc.bytes.indexOf('\n', doc.bodyStart);
    if (nl >= 0)
        return (nl > doc.bodyStart && doc.bytes.at(nl - 1) == '\r') ? "\r\n" : "\n";
#ifdef Q_OS_WIN
    return "\r\n";
#else
    return "\n";
#endif
}

bool hasLineBreak(const QString& s)
{
    return s.contains(u'\n') || s.contains(u'\r');
}

// Names that would read back as something else, or break the file's structure, can't be
// written faithfully.
bool isWritableSection(const QString& section)
{
    return !hasLineBreak(section) && !section.contains(u']');
}

bool isWritableKey(const QString& key)
{
    return !key.isEmpty() && !hasLineBreak(key) && !key.contains(u'=') && !key.startsWith(u';') &&
           !key.startsWith(u'[');
}

// Reading trims blanks and strips one pair of matching quotes, so such values are written inside
// quotes to read back exactly as given.
QString storedValue(const QString& value)
{
    const bool changedByReading = value != value.trimmed() || unquoted(value) != value;
    return changedByReading ? u'"' + value + u'"' : value;
}

std::optional<QByteArray> readFileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

} // namespace

IniWriteError::IniWriteError(const QString& path)
    : std::runtime_error(
          (QStringLiteral("Unable to write to ") + QDir::toNativeSeparators(path)).toStdString())
{
}

int parseIniInteger(const QString& text, int def)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t.at(i) == u'+' || t.at(i) == u'-')) {
        negative = t.at(i) == u'-';
        ++i;
    }
    int base = 10;
    if (t.size() - i >= 2 && t.at(i) == u'0' && (t.at(i + 1) == u'x' || t.at(i + 1) == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == t.size())
        return def;

    const qint64 limit = negative ? qint64(INT_MAX) + 1 : qint64(INT_MAX);
    qint64 magnitude = 0;
    for (; i < t.size(); ++i) {
        const char16_t c = t.at(i).unicode();
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        if (digit < 0)
            return def;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return def;
    }
    return int(negative ? -magnitude : magnitude);
}

IniFile::IniFile(QString path)
    : m_path(std::move(path))
{
}

QString IniFile::readString(const QString& section, const QString& key, const QString& def) const
{
    const std::optional<QByteArray> bytes = readFileBytes(m_path);
    if (!bytes)
        return def;
    const Document doc = parse(*bytes);
    const Line* entry = findEntry(doc, section, key);
    return entry ? entry->value : def;
}

int IniFile::readInteger(const QString& section, const QString& key, int def) const
{
    const QString text = readString(section, key, QString());
    return text.isNull() ? def : parseIniInteger(text, def);
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value)
{
    const QString sectionName = section.trimmed();
    const QString keyName = key.trimmed();
    if (!isWritableSection(sectionName) || !isWritableKey(keyName) || hasLineBreak(value))
        throw IniWriteError(m_path);

    // An existing file that can't be read must not be replaced by one holding only this key.
    QByteArray bytes;
    if (QFile::exists(m_path)) {
        std::optional<QByteArray> existing = readFileBytes(m_path);
        if (!existing)
            throw IniWriteError(m_path);
        bytes = std::move(*existing);
    }

    const Document doc = parse(std::move(bytes));
    if (!doc.linesMatchBytes)
        throw IniWriteError(m_path);

    const TextEncoding lineEncoding =
        doc.encoding == TextEncoding::Utf8Bom ? TextEncoding::Utf8 : doc.encoding;
    const QByteArray eol = lineEnding(doc);
    const QByteArray keyLine = encodeLegacyText(keyName + u'=' + storedValue(value), lineEncoding);
    const QByteArray& old = doc.bytes;

    QByteArray result;
    const qsizetype header = findSection(doc, sectionName);
    if (header >= 0) {
        const qsizetype existing = findKey(doc, header, keyName);
        if (existing >= 0) {
            const Line& line = doc.lines[existing];
            result = old.first(line.begin) + keyLine + old.sliced(line.textEnd);
        } else {
            qsizetype after = header;
            const qsizetype end = sectionEnd(doc, header);
            for (qsizetype i = header + 1; i < end; ++i) {
                if (doc.lines[i].kind == LineKind::Key)
                    after = i;
            }
            const Line& line = doc.lines[after];
            if (line.end > line.textEnd)
                result = old.first(line.end) + keyLine + eol + old.sliced(line.end);
            else // last line of a file without a final line end
                result = old + eol + keyLine;
        }
    } else {
        result = old;
        if (old.size() > doc.bodyStart && !old.endsWith('\n'))
            result += eol;
        result += encodeLegacyText(u'[' + sectionName + u']', lineEncoding) + eol + keyLine + eol;
    }

    QString reason;
    if (!commitFile(m_path, result, {m_newFilePermissions}, &reason))
        throw IniWriteError(m_path);
}

void IniFile::writeInteger(const QString& section, const QString& key, int value)
{
    writeString(section, key, QString::number(value));
}

} // namespace quarvel
