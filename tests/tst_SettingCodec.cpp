#include "LegacyText.h"
#include "SettingCodec.h"

#include <QTest>

using namespace quarvel;

class tst_SettingCodec : public QObject
{
    Q_OBJECT

private slots:
    void encode_data();
    void encode();
    void decode_data();
    void decode();
    void roundTrip_data();
    void roundTrip();
    void utf8Validity_data();
    void utf8Validity();
    void legacyText_data();
    void legacyText();
};

// The scrambled form of "velmora", worked out by hand from the key 3C 71 E5 0D 2A 98 F6 1B:
// v 76^3C=4A, e 65^71=14, l 6C^E5=89, m 6D^0D=60, o 6F^2A=45, r 72^98=EA, a 61^F6=97.
static const QString kVelmora = QStringLiteral("4A14896045EA97");

void tst_SettingCodec::encode_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QString>("stored");

    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("velmora") << QByteArrayLiteral("velmora") << kVelmora;
    // Zero bytes show the key itself; the ninth byte starts over at key byte 0.
    QTest::newRow("nine zero bytes") << QByteArray(9, '\0') << QStringLiteral("3C71E50D2A98F61B3C");
    QTest::newRow("0xFF bytes give the inverted key")
        << QByteArray(8, '\xFF') << QStringLiteral("C38E1AF2D56709E4");
}

void tst_SettingCodec::encode()
{
    QFETCH(QByteArray, plain);
    QFETCH(QString, stored);
    QCOMPARE(EncodeSetting(plain), stored);
}

void tst_SettingCodec::decode_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QByteArray>("plain");

    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("upper case") << kVelmora << QByteArrayLiteral("velmora");
    QTest::newRow("lower case") << kVelmora.toLower() << QByteArrayLiteral("velmora");
    QTest::newRow("odd length ignores last char")
        << kVelmora + u'F' << QByteArrayLiteral("velmora");
    QTest::newRow("single char") << QStringLiteral("4") << QByteArray();
    // Pair 2 ("l") is dropped; "mora" still decodes with key bytes 3..6.
    QTest::newRow("invalid pair in the middle")
        << QStringLiteral("4A14ZZ6045EA97") << QByteArrayLiteral("vemora");
    QTest::newRow("half-valid pair is dropped")
        << QStringLiteral("4A148G6045EA97") << QByteArrayLiteral("vemora");
    QTest::newRow("non-ASCII digits are not hex")
        << QStringLiteral("4A14８９6045EA97") << QByteArrayLiteral("vemora");
    QTest::newRow("sign is not hex") << QStringLiteral("-1") << QByteArray();
    QTest::newRow("ninth byte reuses key byte 0")
        << QStringLiteral("3C71E50D2A98F61B3C") << QByteArray(9, '\0');
}

void tst_SettingCodec::decode()
{
    QFETCH(QString, stored);
    QFETCH(QByteArray, plain);
    QCOMPARE(DecodeSetting(stored), plain);
}

void tst_SettingCodec::roundTrip_data()
{
    QTest::addColumn<QByteArray>("plain");

    QByteArray everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte.append(char(b));
    QTest::newRow("every byte value") << everyByte;
    QTest::newRow("zero and 0xFF") << QByteArray("\x00\xFF\x00\xFF", 4);
    QTest::newRow("UTF-8 Chinese") << QStringLiteral("数据库密码").toUtf8();
    QTest::newRow("GBK Chinese") << QByteArray("\xD5\xC5\xC8\xFD");
}

void tst_SettingCodec::roundTrip()
{
    QFETCH(QByteArray, plain);
    const QString stored = EncodeSetting(plain);
    QCOMPARE(stored.size(), plain.size() * 2);
    QCOMPARE(DecodeSetting(stored), plain);
    QCOMPARE(DecodeSetting(stored.toLower()), plain);
}

void tst_SettingCodec::utf8Validity_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");

    QTest::newRow("empty") << QByteArray() << true;
    QTest::newRow("ASCII") << QByteArray("root") << true;
    QTest::newRow("Chinese") << QStringLiteral("张三").toUtf8() << true;
    QTest::newRow("four-byte U+10FFFF") << QByteArray("\xF4\x8F\xBF\xBF") << true;
    QTest::newRow("U+FFFF") << QByteArray("\xEF\xBF\xBF") << true;
    QTest::newRow("GBK") << QByteArray("\xD5\xC5\xC8\xFD") << false;
    QTest::newRow("overlong NUL") << QByteArray("\xC0\x80") << false;
    QTest::newRow("overlong slash (3 bytes)") << QByteArray("\xE0\x80\xAF") << false;
    QTest::newRow("overlong (4 bytes)") << QByteArray("\xF0\x8F\xBF\xBF") << false;
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
    QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
    QTest::newRow("F5 lead") << QByteArray("\xF5\x80\x80\x80") << false;
    QTest::newRow("lone continuation") << QByteArray("a\x80") << false;
    QTest::newRow("truncated") << QByteArray("\xE5\xBC") << false;
    QTest::newRow("ASCII where a continuation belongs") << QByteArray("\xE5\x41\xA0") << false;
}

void tst_SettingCodec::utf8Validity()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);
    QCOMPARE(isValidUtf8(bytes), valid);
}

void tst_SettingCodec::legacyText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<TextEncoding>("encoding");

    QTest::newRow("empty") << QByteArray() << QString() << TextEncoding::Utf8;
    QTest::newRow("UTF-8") << QStringLiteral("张三").toUtf8() << QStringLiteral("张三")
                           << TextEncoding::Utf8;
    QTest::newRow("BOM stripped") << QByteArray("\xEF\xBB\xBF\xE5\xBC\xA0") << QStringLiteral("张")
                                  << TextEncoding::Utf8Bom;
    QTest::newRow("only the first BOM is a marker")
        << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBFx") << QStringLiteral("\uFEFFx")
        << TextEncoding::Utf8Bom;
    QTest::newRow("GBK") << QByteArray("\xC3\xDC\xC2\xEB"
                                       "123")
                         << QStringLiteral("密码123") << TextEncoding::Ansi;
}

void tst_SettingCodec::legacyText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(TextEncoding, encoding);
#ifdef Q_OS_WIN
    if (encoding == TextEncoding::Ansi &&
        encodeLegacyText(QStringLiteral("张"), TextEncoding::Ansi) != "\xD5\xC5")
        QSKIP("The system ANSI code page is not Chinese");
#endif
    TextEncoding used = TextEncoding::Ansi;
    QCOMPARE(decodeLegacyText(bytes, &used), text);
    QCOMPARE(used, encoding);
    QCOMPARE(encodeLegacyText(text, encoding), bytes);
}

QTEST_APPLESS_MAIN(tst_SettingCodec)
#include "tst_SettingCodec.moc"
