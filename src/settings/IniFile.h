#pragma once

#include <QFileDevice>
#include <QString>
#include <optional>
#include <stdexcept>

// An INI file with the semantics of the Windows profile functions: section and key names are
// case-insensitive, blanks around names and values are trimmed, a value in matching quotes is
// read without them, ';' starts a comment line, a UTF-8 BOM and CRLF or LF line ends are
// tolerated, and the first occurrence of a section or key wins. Every call reads or rewrites the
// file afresh; nothing is cached.
namespace quarvel {

class IniWriteError : public std::runtime_error
{
public:
    explicit IniWriteError(const QString& path);
    QString text() const { return QString::fromUtf8(what()); }
};

// Decimal, or hexadecimal after "0x"/"0X", with an optional sign; anything else gives `def`.
int parseIniInteger(const QString& text, int def);

class IniFile
{
public:
    explicit IniFile(QString path);

    const QString& fileName() const { return m_path; }

    // A missing file, section or key gives `def`; a key that is present but empty gives "".
    QString readString(const QString& section, const QString& key, const QString& def) const;
    int readInteger(const QString& section, const QString& key, int def) const;

    // Rewrites the file with every other byte unchanged, appending the section or key when
    // absent and creating the file when missing. The new file replaces the old one atomically.
    // Throws IniWriteError("Unable to write to <path>") when the file or folder can't be written.
    void writeString(const QString& section, const QString& key, const QString& value);
    void writeInteger(const QString& section, const QString& key, int value);

    // Permissions of the file when a write creates it (default: the process's usual ones).
    void setNewFilePermissions(QFileDevice::Permissions permissions)
    {
        m_newFilePermissions = permissions;
    }

private:
    QString m_path;
    std::optional<QFileDevice::Permissions> m_newFilePermissions;
};

} // namespace quarvel
