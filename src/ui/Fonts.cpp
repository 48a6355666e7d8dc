#include "Fonts.h"

#include <QStringList>

namespace quarvel {

void installFontSubstitutes()
{
    const QStringList cjkSerif{
        QStringLiteral("SimSun"), QStringLiteral("NSimSun"), QStringLiteral("Noto Serif CJK SC"),
        QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei")};
    const QStringList cjkSans{QStringLiteral("Microsoft YaHei"), QStringLiteral("Noto Sans CJK SC"),
                              QStringLiteral("WenQuanYi Zen Hei")};
    QFont::insertSubstitutions(QStringLiteral("宋体"), cjkSerif);
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"), cjkSans);
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                                QStringLiteral("Noto Sans CJK SC")});
    const QStringList mono{QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono"),
                           QStringLiteral("Noto Sans Mono CJK SC")};
    QFont::insertSubstitutions(QStringLiteral("Courier New"), mono);
    QFont::insertSubstitutions(QStringLiteral("COURIER NEW"), mono);
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK SC")});
}

QFont designFont(const QString& family, int pixelSize, bool bold)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

} // namespace quarvel
