#include "ScriptFile.h"

#include "FileCommit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

namespace quarvel {

namespace {

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

int unit(QStringView text, qsizetype i)
{
    return text[i].unicode();
}

int unit(QByteArrayView text, qsizetype i)
{
    return static_cast<unsigned char>(text[i]);
}

// Line breaks and TABs are ASCII, so text and UTF-8 bytes take the same steps.
template <typename String, typename View>
String editorText(View fileText, View crLf, View spaces)
{
    String text;
    text.reserve(fileText.size() + fileText.size() / 8);
    const qsizetype n = fileText.size();
    qsizetype run = 0; // start of the units copied as they are
    for (qsizetype i = 0; i < n; ++i) {
        const int c = unit(fileText, i);
        if (c != '\t' && c != '\r' && c != '\n')
            continue;
        if (c == '\r' && i + 1 < n && unit(fileText, i + 1) == '\n') {
            ++i;
            continue;
        }
        text += fileText.sliced(run, i - run);
        text += c == '\t' ? spaces : crLf;
        run = i + 1;
    }
    text += fileText.sliced(run);
    if (text.endsWith(crLf))
        text.chop(crLf.size());
    return text;
}

} // namespace

ScriptFile readScriptFile(const QString& path)
{
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly))
        throw ScriptFileError(QStringLiteral("无法打开文件“%1”：%2")
                                  .arg(native(path), fileErrorText(errno, file.errorString())));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ScriptFileError(QStringLiteral("无法读取文件“%1”：%2")
                                  .arg(native(path), fileErrorText(errno, file.errorString())));
    // UTF-8 goes to the editor as it is, without a round trip through UTF-16.
    const QByteArrayView bom("\xEF\xBB\xBF");
    const bool hasBom = bytes.startsWith(bom);
    const QByteArrayView body = QByteArrayView(bytes).sliced(hasBom ? bom.size() : 0);
    if (isValidUtf8(body))
        return {editorTextFromFile(body), hasBom ? TextEncoding::Utf8Bom : TextEncoding::Utf8};
    ScriptFile script;
    bool lossless = false;
    const QString text = decodeLegacyText(bytes, &script.encoding, &lossless);
    if (!lossless)
        throw ScriptFileError(
            QStringLiteral("无法打开文件“%1”：它既不是 UTF-8 文本，也不是 ANSI（GBK）文本。")
                .arg(native(path)));
    script.text = editorTextFromFile(text).toUtf8();
    return script;
}

void writeScriptFile(const QString& path, const QString& fileText, TextEncoding encoding)
{
    bool lossless = false;
    const QByteArray bytes = encodeLegacyText(fileText, encoding, &lossless);
    if (!lossless)
        throw ScriptFileError(
            QStringLiteral("无法保存文件“%1”：文本中有 ANSI（GBK）编码无法表示的字符。")
                .arg(native(path)));
    QString reason;
    if (!commitFile(path, bytes, {}, &reason))
        throw ScriptFileError(QStringLiteral("无法写入文件“%1”：%2").arg(native(path), reason));
}

QString editorTextFromFile(QStringView fileText)
{
    return editorText<QString>(fileText, QStringView(u"\r\n"), QStringView(u"    "));
}

QByteArray editorTextFromFile(QByteArrayView fileText)
{
    return editorText<QByteArray>(fileText, QByteArrayView("\r\n"), QByteArrayView("    "));
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
        text += u"\r\n";
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
