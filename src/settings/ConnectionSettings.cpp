#include "ConnectionSettings.h"

#include "IniFile.h"
#include "LegacyText.h"
#include "SettingCodec.h"

#include <QDir>
#include <QFileInfo>

namespace quarvel {

namespace {

const QString kDatabaseSection = QStringLiteral("Database");

QString decoded(const IniFile& config, const QString& key, const QString& def)
{
    return decodeLegacyText(DecodeSetting(config.readString(kDatabaseSection, key, def)));
}

// A port outside the TCP range would reach the client library as some other port.
int validPort(int port)
{
    return port >= 1 && port <= 65535 ? port : kDefaultPort;
}

// A value of the server's own option file: an inline '#' or ';' outside quotes ends it, and the
// rest may be quoted.
QString optionFileValue(const QString& value)
{
    QChar quote;
    qsizetype end = 0;
    for (; end < value.size(); ++end) {
        const QChar c = value[end];
        if (c == u'"' || c == u'\'')
            quote = quote.isNull() ? c : (quote == c ? QChar() : quote);
        else if (quote.isNull() && (c == u'#' || c == u';'))
            break;
    }
    QString text = value.first(end).trimmed();
    if (text.size() >= 2 && (text.front() == u'"' || text.front() == u'\'') &&
        text.back() == text.front())
        text = text.sliced(1, text.size() - 2);
    return text;
}

} // namespace

QString configIniPath(const QString& baseFolder)
{
    return QDir(baseFolder).filePath(QStringLiteral("conf/config.ini"));
}

QString siblingExePath(const QString& baseFolder)
{
    return QDir(baseFolder).filePath(QStringLiteral("Velmora.exe"));
}

QString siblingMyIniPath(const QString& baseFolder)
{
    return QDir(baseFolder).filePath(QStringLiteral("kavromysql/my.ini"));
}

int readTopHeight(const QString& baseFolder)
{
    return IniFile(configIniPath(baseFolder))
        .readInteger(QStringLiteral("Quarvel"), QStringLiteral("TopHeight"), kDefaultTopHeight);
}

ConnectionSettings resolveConnectionSettings(const QString& baseFolder)
{
    const IniFile config(configIniPath(baseFolder));
    ConnectionSettings s;
    s.siblingMode = QFileInfo(siblingExePath(baseFolder)).isFile();
    if (s.siblingMode) {
        // The sibling product's own server on this machine; only the database name and the
        // credentials come from our config.
        const QString portText = IniFile(siblingMyIniPath(baseFolder))
                                     .readString(QStringLiteral("mysqld"), QStringLiteral("port"),
                                                 QString::number(kDefaultPort));
        s.port = validPort(parseIniInteger(optionFileValue(portText), kDefaultPort));
        s.database = decoded(config, QStringLiteral("DatabaseName"),
                             EncodeSetting(QByteArrayLiteral("velmora")));
        s.server = QStringLiteral("127.0.0.1");
    } else {
        s.database = decoded(config, QStringLiteral("DatabaseName"), QString());
        s.server = decoded(config, QStringLiteral("Server"), QString());
        s.port = validPort(parseIniInteger(
            config.readString(kDatabaseSection, QStringLiteral("Port"), QString()), kDefaultPort));
    }
    s.user = decoded(config, QStringLiteral("User"), QString());
    s.password = decoded(config, QStringLiteral("Pw"), QString());
    s.verifyServerCert =
        config.readInteger(kDatabaseSection, QStringLiteral("SslVerifyServerCert"), 0) != 0;
    const QString caFile = config.readString(kDatabaseSection, QStringLiteral("SslCa"), QString());
    if (!caFile.isEmpty())
        s.caFile = QDir::cleanPath(QFileInfo(config.fileName()).dir().absoluteFilePath(caFile));
    return s;
}

} // namespace quarvel
