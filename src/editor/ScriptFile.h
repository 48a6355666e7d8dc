#pragma once

#include "LegacyText.h"

#include <QList>
#include <QString>
#include <stdexcept>

// Script files: plain text, one editor line per file line, in the encoding they came in.
namespace quarvel {

// A failed read or write, with the text the error report shows.
class ScriptFileError : public std::runtime_error
{
public:
    explicit ScriptFileError(const QString& message)
        : std::runtime_error(message.toStdString())
    {
    }
};

struct ScriptFile
{
    QByteArray text; // UTF-8, as the editor shows it (see editorTextFromFile)
    TextEncoding encoding = TextEncoding::Utf8;
};

// Reads and decodes a script. A file that neither UTF-8 nor the ANSI code page decodes without
// replacement characters is refused rather than loaded altered (saving would corrupt it).
ScriptFile readScriptFile(const QString& path);

// Writes through a temporary file in the same folder renamed over the target, so a failure
// leaves the old file whole. Refuses text the encoding cannot hold.
void writeScriptFile(const QString& path, const QString& fileText, TextEncoding encoding);

// The editor text of a file's text: every TAB becomes 4 spaces, every line break CR LF, and a
// final line break ends the last line instead of starting an empty one.
QString editorTextFromFile(QStringView fileText);
QByteArray editorTextFromFile(QByteArrayView fileText); // the same on UTF-8 bytes

struct LineTrim
{
    int line;
    int removed; // characters stripped from the line's end
};

// The file text of an editor text: every line without its trailing blanks and control
// characters, followed by CR LF. Lines that lose characters are listed in `trims`.
QString fileTextFromEditor(QStringView editorText, QList<LineTrim>* trims = nullptr);

// `extension` (".sql") appended when the name has none, as the save dialog does.
QString withDefaultExtension(const QString& fileName, const QString& extension);

} // namespace quarvel
