#include "ScriptFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace quarvel {

namespace {

constexpr QStringView kCrLf = u"\r\n";

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

ScriptFile readScriptFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ScriptFileError(
            QStringLiteral("Cannot open file \"%1\". %2").arg(native(path), file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ScriptFileError(
            QStringLiteral("Cannot read file \"%1\". %2").arg(native(path), file.errorString()));
    ScriptFile script;
    bool lossless = false;
    const QString text = decodeLegacyText(bytes, &script.encoding, &lossless);
    if (!lossless)
        throw ScriptFileError(QStringLiteral("Cannot open file \"%1\": it is neither UTF-8 nor "
                                             "ANSI (GBK) text.")
                                  .arg(native(path)));
    script.text = editorTextFromFile(text);
    return script;
}

void writeScriptFile(const QString& path, const QString& fileText, TextEncoding encoding)
{
    bool lossless = false;
    const QByteArray bytes = encodeLegacyText(fileText, encoding, &lossless);
    if (!lossless)
        throw ScriptFileError(QStringLiteral("Cannot save file \"%1\": the text has characters "
                                             "that its ANSI (GBK) encoding cannot hold.")
                                  .arg(native(path)));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ScriptFileError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(native(path), file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw ScriptFileError(
            QStringLiteral("Cannot write file \"%1\". %2").arg(native(path), file.errorString()));
}

QString editorTextFromFile(QStringView fileText)
{
    QString text;
    text.reserve(fileText.size() + fileText.size() / 8);
    const qsizetype n = fileText.size();
    qsizetype run = 0; // start of the characters copied as they are
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = fileText[i];
        if (c == u'\r' && i + 1 < n && fileText[i + 1] == u'\n') {
            ++i;
            continue;
        }
        if (c != u'\t' && c != u'\r' && c != u'\n')
            continue;
        text += fileText.sliced(run, i - run);
        text += c == u'\t' ? QStringView(u"    ") : kCrLf;
        run = i + 1;
    }
    text += fileText.sliced(run);
    if (text.endsWith(kCrLf))
        text.chop(kCrLf.size());
    return text;
}

QString fileTextFromEditor(QStringView editorText, QList<LineTrim>* trims)
{
    QString text;
    text.reserve(editorText.size() + 2);
    const qsizetype n = editorText.size();
    qsizetype lineStart = 0;
    int line = 0;
    for (qsizetype i = 0;; ++i) {
        if (i < n && editorText[i] != u'\r' && editorText[i] != u'\n')
            continue;
        qsizetype end = i;
        while (end > lineStart && editorText[end - 1] <= u' ')
            --end;
        text += editorText.sliced(lineStart, end - lineStart);
        text += kCrLf;
        if (trims && end < i)
            trims->append({line, int(i - end)});
        if (i == n)
            break;
        if (editorText[i] == u'\r' && i + 1 < n && editorText[i + 1] == u'\n')
            ++i;
        lineStart = i + 1;
        ++line;
    }
    return text;
}

QString withDefaultExtension(const QString& fileName, const QString& extension)
{
    if (fileName.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    return fileName + extension;
}

} // namespace quarvel
