#include "SqlText.h"

#include <QRegularExpression>

namespace quarvel {

QString trimControl(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= u' ')
        ++begin;
    while (end > begin && text[end - 1].unicode() <= u' ')
        --end;
    return text.mid(begin, end - begin);
}

const QStringList& forbiddenFragments()
{
    static const QStringList fragments{
        QStringLiteral("delete "),   QStringLiteral("update "), QStringLiteral("insert "),
        QStringLiteral("truncate "), QStringLiteral("drop "),   QStringLiteral("create "),
    };
    return fragments;
}

bool switchesToWriting(const QString& text)
{
    static const QRegularExpression pattern(
        QStringLiteral("\\bread\\s+write\\b|tx_read_only|transaction_read_only"),
        QRegularExpression::CaseInsensitiveOption);
    return text.contains(pattern);
}

bool isRefusedInReadOnly(const QString& text)
{
    for (const QString& fragment : forbiddenFragments())
        if (text.contains(fragment, Qt::CaseSensitive))
            return true;
    return switchesToWriting(text);
}

bool isQueryText(const QString& text)
{
    return text.left(6).toLower() == QLatin1String("select");
}

QString rewriteBackslashes(const QString& text)
{
    for (const char* fragment : {"insert ", "update ", "delete "})
        if (text.contains(QLatin1String(fragment), Qt::CaseSensitive))
            return text;
    QString doubled = text;
    doubled.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    doubled.replace(QLatin1String("\\'"), QLatin1String("\\\\\\'"));
    return doubled;
}

} // namespace quarvel
