// quarvel-config: writes the [Database] keys of <folder>/conf/config.ini in the scrambled form
// that Quarvel reads, shows what Quarvel would use, and tries the connection.

#include "Connection.h"
#include "ConnectionSettings.h"
#include "IniFile.h"
#include "SettingCodec.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <cstdio>
#include <iostream>
#include <string>

using namespace quarvel;

namespace {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err()
{
    static QTextStream stream(stderr);
    return stream;
}

void writeScrambled(IniFile& ini, const QString& key, const QString& plain)
{
    ini.writeString(QStringLiteral("Database"), key, EncodeSetting(plain.toUtf8()));
}

void show(const QString& folder, bool withPassword)
{
    const ConnectionSettings s = resolveConnectionSettings(folder);
    out() << "mode:     " << (s.siblingMode ? "sibling (Velmora.exe found)" : "normal") << '\n'
          << "database: " << s.database << '\n'
          << "server:   " << s.server << '\n'
          << "port:     " << s.port << '\n'
          << "user:     " << s.user << '\n'
          << "password: "
          << (withPassword ? s.password
                           : (s.password.isEmpty() ? QString() : QStringLiteral("****")))
          << '\n'
          << "tls:      "
          << (s.verifyServerCert
                  ? QStringLiteral("required, server certificate verified") +
                        (s.caFile.isEmpty() ? QString() : QStringLiteral(" against ") + s.caFile)
                  : QStringLiteral("when the server offers it, not verified"))
          << '\n';
    out().flush();
}

bool check(const QString& folder)
{
    const ConnectionSettings s = resolveConnectionSettings(folder);
    db::Connection connection;
    try {
        connection.open(
            {s.database, s.server, s.port, s.user, s.password, s.verifyServerCert, s.caFile});
    } catch (const db::DbError& e) {
        err() << "connection failed: " << e.message() << " (error " << e.code() << ")\n";
        err().flush();
        return false;
    }
    const QString cipher = connection.tlsCipher();
    out() << "connected to " << s.server << ':' << s.port << '/' << s.database << " as " << s.user
          << (cipher.isEmpty() ? QStringLiteral(", not encrypted")
                               : QStringLiteral(", TLS ") + cipher)
          << '\n';
    out().flush();
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quarvel-config"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes the [Database] keys of <folder>/conf/config.ini in the scrambled form Quarvel "
        "reads.\nThe password is read from standard input (first line), never from the command "
        "line."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("folder"),
                                 QStringLiteral("Folder of Quarvel's executable."));
    const QCommandLineOption database(QStringLiteral("database"),
                                      QStringLiteral("Database (schema) name."),
                                      QStringLiteral("name"));
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("Server host."),
                                    QStringLiteral("host"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Server port (plain)."),
                                  QStringLiteral("port"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("User name."),
                                  QStringLiteral("name"));
    const QCommandLineOption passwordStdin(
        QStringLiteral("password-stdin"), QStringLiteral("Read the password from standard input."));
    const QCommandLineOption showOption(QStringLiteral("show"),
                                        QStringLiteral("Print the values Quarvel would use."));
    const QCommandLineOption showPassword(QStringLiteral("show-password"),
                                          QStringLiteral("With --show, print the password too."));
    const QCommandLineOption checkOption(
        QStringLiteral("check"),
        QStringLiteral("Connect as Quarvel would; print the server's error when that fails."));
    parser.addOptions(
        {database, server, port, user, passwordStdin, showOption, showPassword, checkOption});
    parser.process(app);

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        err() << "quarvel-config: give exactly one folder (see --help)\n";
        return 2;
    }
    const QString folder = QFileInfo(positional.first()).absoluteFilePath();

    if (parser.isSet(port)) {
        bool ok = false;
        const int value = parser.value(port).toInt(&ok);
        if (!ok || value <= 0 || value > 65535) {
            err() << "quarvel-config: the port must be a number from 1 to 65535\n";
            return 2;
        }
    }

    QString password;
    if (parser.isSet(passwordStdin)) {
        std::string line;
        std::getline(std::cin, line);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        password = QString::fromStdString(line);
    }

    const bool writes = parser.isSet(database) || parser.isSet(server) || parser.isSet(port) ||
                        parser.isSet(user) || parser.isSet(passwordStdin);
    if (writes) {
        try {
            QDir().mkpath(QFileInfo(configIniPath(folder)).absolutePath());
            IniFile ini(configIniPath(folder));
            // The password is only scrambled, not encrypted: a new file is the owner's alone.
            ini.setNewFilePermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            if (parser.isSet(database))
                writeScrambled(ini, QStringLiteral("DatabaseName"), parser.value(database));
            if (parser.isSet(server))
                writeScrambled(ini, QStringLiteral("Server"), parser.value(server));
            if (parser.isSet(port))
                ini.writeString(QStringLiteral("Database"), QStringLiteral("Port"),
                                QString::number(parser.value(port).toInt()));
            if (parser.isSet(user))
                writeScrambled(ini, QStringLiteral("User"), parser.value(user));
            if (parser.isSet(passwordStdin))
                writeScrambled(ini, QStringLiteral("Pw"), password);
        } catch (const IniWriteError& e) {
            err() << "quarvel-config: " << e.text() << '\n';
            return 1;
        }
        out() << "wrote " << QDir::toNativeSeparators(configIniPath(folder)) << '\n';
        out().flush();
    }

    if (parser.isSet(showOption))
        show(folder, parser.isSet(showPassword));
    if (parser.isSet(checkOption))
        return check(folder) ? 0 : 1;
    if (!writes && !parser.isSet(showOption)) {
        err() << "quarvel-config: nothing to do (see --help)\n";
        return 2;
    }
    return 0;
}
