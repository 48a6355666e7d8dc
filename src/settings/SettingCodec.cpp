#include "SettingCodec.h"

#include <array>

namespace quarvel {

namespace {

constexpr std::array<unsigned char, 8> kSettingKey = {0x3C, 0x71, 0xE5, 0x0D,
                                                      0x2A, 0x98, 0xF6, 0x1B};

// -1 for anything that is not an ASCII hexadecimal digit, including non-ASCII characters.
int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

} // namespace

QByteArray DecodeSetting(const QString& stored)
{
    const qsizetype pairs = stored.size() / 2;
    QByteArray plain;
    plain.reserve(pairs);
    for (qsizetype k = 0; k < pairs; ++k) {
        const int hi = hexValue(stored.at(2 * k));
        const int lo = hexValue(stored.at(2 * k + 1));
        if (hi < 0 || lo < 0)
            continue; // dropped, but the key position still advances with k
        const unsigned value =
            (unsigned(hi) << 4 | unsigned(lo)) ^ kSettingKey[k % kSettingKey.size()];
        plain.append(char(value & 0xFF));
    }
    return plain;
}

QString EncodeSetting(const QByteArray& plain)
{
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    QString stored;
    stored.reserve(plain.size() * 2);
    for (qsizetype k = 0; k < plain.size(); ++k) {
        const unsigned value =
            (static_cast<unsigned char>(plain.at(k)) ^ kSettingKey[k % kSettingKey.size()]) & 0xFF;
        stored.append(QChar(kDigits[value >> 4]));
        stored.append(QChar(kDigits[value & 0x0F]));
    }
    return stored;
}

} // namespace quarvel
