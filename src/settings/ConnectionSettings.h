#pragma once

#include <QString>

// Where the program finds its database: conf/config.ini beside the executable, or, when the
// server product's executable lies beside it ("sibling mode"), that product's own server.
namespace quarvel {

inline constexpr int kDefaultTopHeight = 175;
inline constexpr int kDefaultPort = 3306;

struct ConnectionSettings
{
    QString database;
    QString server;
    int port = kDefaultPort;
    QString user;
    QString password;
    // [Database] SslVerifyServerCert (a number, not 0: on) and SslCa (a file of trusted
    // authorities, relative to the conf folder), read in both modes.
    bool verifyServerCert = false;
    QString caFile;
    bool siblingMode = false;

    bool operator==(const ConnectionSettings&) const = default;
};

// Paths of the files involved, built from the folder treated as the executable's own.
QString configIniPath(const QString& baseFolder);    // <base>/conf/config.ini
QString siblingExePath(const QString& baseFolder);   // <base>/Velmora.exe
QString siblingMyIniPath(const QString& baseFolder); // <base>/kavromysql/my.ini

// [Quarvel] TopHeight of conf/config.ini, 175 when absent, empty or not a number.
int readTopHeight(const QString& baseFolder);

// The five connection values, resolved from the files in `baseFolder` only.
ConnectionSettings resolveConnectionSettings(const QString& baseFolder);

} // namespace quarvel
