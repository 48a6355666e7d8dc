// How a value's text from the server becomes a spreadsheet cell: which numbers a cell keeps
// exactly, which dates it holds, how wide text is, where over-long text is cut and how text
// that looks like the workbook's own escapes is kept.

#include "CellValue.h"

#include <QTest>

using namespace quarvel::sheet;

class tst_CellValue : public QObject
{
    Q_OBJECT

private slots:
    void exactNumber_data();
    void exactNumber();
    void parseDateTime_data();
    void parseDateTime();
    void serialNumber_data();
    void serialNumber();
    void displayWidth_data();
    void displayWidth();
    void cellTextBytes_data();
    void cellTextBytes();
    void isPlainText_data();
    void isPlainText();
    void workbookText_data();
    void workbookText();
};

void tst_CellValue::exactNumber_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("isNumber");
    QTest::addColumn<double>("value");

    QTest::newRow("integer") << QByteArray("42") << true << 42.0;
    QTest::newRow("negative") << QByteArray("-17") << true << -17.0;
    QTest::newRow("zero") << QByteArray("0") << true << 0.0;
    QTest::newRow("decimal with trailing zeros") << QByteArray("12.500") << true << 12.5;
    QTest::newRow("small fraction") << QByteArray("0.000125") << true << 0.000125;
    QTest::newRow("15 digits") << QByteArray("123456789012345") << true << 123456789012345.0;
    QTest::newRow("15 digits with fraction")
        << QByteArray("1234567890.12345") << true << 1234567890.12345;
    QTest::newRow("exponent") << QByteArray("1.5e-7") << true << 1.5e-7;
    QTest::newRow("exponent with sign") << QByteArray("2E+21") << true << 2e21;
    QTest::newRow("16 digits") << QByteArray("1234567890123456") << false << 0.0;
    QTest::newRow("18-digit id") << QByteArray("123456789012345678") << false << 0.0;
    QTest::newRow("trailing zeros of a whole number count")
        << QByteArray("1000000000000000") << false << 0.0;
    QTest::newRow("17-digit double") << QByteArray("0.30000000000000004") << false << 0.0;
    QTest::newRow("zero padded") << QByteArray("00012") << false << 0.0;
    QTest::newRow("out of range") << QByteArray("1e400") << false << 0.0;
    QTest::newRow("below range") << QByteArray("1e-320") << false << 0.0;
    QTest::newRow("empty") << QByteArray("") << false << 0.0;
    QTest::newRow("sign alone") << QByteArray("-") << false << 0.0;
    QTest::newRow("leading plus") << QByteArray("+5") << false << 0.0;
    QTest::newRow("blank around") << QByteArray(" 5") << false << 0.0;
    QTest::newRow("text") << QByteArray("12abc") << false << 0.0;
    QTest::newRow("exponent without digits") << QByteArray("1e") << false << 0.0;
}

void tst_CellValue::exactNumber()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, isNumber);
    QFETCH(double, value);

    const std::optional<double> number = quarvel::sheet::exactNumber(text);
    QCOMPARE(number.has_value(), isNumber);
    if (isNumber)
        QCOMPARE(*number, value);
}

void tst_CellValue::parseDateTime_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("withTime");
    QTest::addColumn<bool>("isDate");
    QTest::addColumn<QList<int>>("fields"); // year, month, day, hour, minute, fraction digits
    QTest::addColumn<double>("second");

    QTest::newRow("date") << QByteArray("2024-05-01") << false << true
                          << QList<int>{2024, 5, 1, 0, 0, 0} << 0.0;
    QTest::newRow("date time") << QByteArray("2024-02-29 23:59:58") << true << true
                               << QList<int>{2024, 2, 29, 23, 59, 0} << 58.0;
    QTest::newRow("milliseconds") << QByteArray("2024-05-01 13:45:10.250") << true << true
                                  << QList<int>{2024, 5, 1, 13, 45, 3} << 10.25;
    QTest::newRow("one decimal") << QByteArray("2024-05-01 13:45:10.5") << true << true
                                 << QList<int>{2024, 5, 1, 13, 45, 1} << 10.5;
    QTest::newRow("first day a cell holds")
        << QByteArray("1900-03-01") << false << true << QList<int>{1900, 3, 1, 0, 0, 0} << 0.0;
    QTest::newRow("more decimals than an int holds")
        << QByteArray("2024-05-01 13:45:10.12345678901") << true << false << QList<int>{} << 0.0;
    QTest::newRow("microseconds can't be shown")
        << QByteArray("2024-05-01 13:45:10.123456") << true << false << QList<int>{} << 0.0;
    QTest::newRow("zero date") << QByteArray("0000-00-00") << false << false << QList<int>{} << 0.0;
    QTest::newRow("zero date time")
        << QByteArray("0000-00-00 00:00:00") << true << false << QList<int>{} << 0.0;
    QTest::newRow("zero day") << QByteArray("2024-05-00") << false << false << QList<int>{} << 0.0;
    QTest::newRow("no such day") << QByteArray("2023-02-29") << false << false << QList<int>{}
                                 << 0.0;
    QTest::newRow("before 1 March 1900")
        << QByteArray("1900-02-28") << false << false << QList<int>{} << 0.0;
    QTest::newRow("hour out of range")
        << QByteArray("2024-05-01 24:00:00") << true << false << QList<int>{} << 0.0;
    QTest::newRow("date where a time is due")
        << QByteArray("2024-05-01") << true << false << QList<int>{} << 0.0;
    QTest::newRow("time where a date is due")
        << QByteArray("2024-05-01 10:00:00") << false << false << QList<int>{} << 0.0;
    QTest::newRow("not a date") << QByteArray("2024/05/01") << false << false << QList<int>{}
                                << 0.0;
}

void tst_CellValue::parseDateTime()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, withTime);
    QFETCH(bool, isDate);
    QFETCH(QList<int>, fields);
    QFETCH(double, second);

    const std::optional<DateTimeValue> value = quarvel::sheet::parseDateTime(text, withTime);
    QCOMPARE(value.has_value(), isDate);
    if (!isDate)
        return;
    QCOMPARE((QList<int>{value->year, value->month, value->day, value->hour, value->minute,
                         value->fractionDigits}),
             fields);
    QCOMPARE(value->second, second);
    QCOMPARE(value->hasTime, withTime);
}

void tst_CellValue::displayWidth_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("cap");
    QTest::addColumn<int>("width");

    QTest::newRow("latin") << "abc" << 60 << 3;
    QTest::newRow("accented letters count single") << "café" << 60 << 4;
    QTest::newRow("chinese counts double") << "中文值" << 60 << 6;
    QTest::newRow("mixed") << "ID号码" << 60 << 6;
    QTest::newRow("capped") << QString(100, QLatin1Char('x')) << 60 << 60;
    QTest::newRow("capped mid character") << "中文中文" << 7 << 7;
    QTest::newRow("empty") << "" << 60 << 0;
}

void tst_CellValue::displayWidth()
{
    QFETCH(QString, text);
    QFETCH(int, cap);
    QFETCH(int, width);
    QCOMPARE(quarvel::sheet::displayWidth(text.toUtf8(), cap), width);
}

void tst_CellValue::cellTextBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("kept");

    const QString ascii(40000, QLatin1Char('x'));
    const QString chinese(40000, QChar(0x4E2D));
    const QString emoji = QString(32766, QLatin1Char('x')) + QStringLiteral("😀");
    QTest::newRow("short") << "中文"
                           << "中文";
    QTest::newRow("exactly full") << ascii.left(kMaxCellChars) << ascii.left(kMaxCellChars);
    QTest::newRow("ascii cut") << ascii << ascii.left(kMaxCellChars);
    QTest::newRow("chinese cut at a character") << chinese << chinese.left(kMaxCellChars);
    // The last character takes two UTF-16 units and would pass the limit.
    QTest::newRow("pair not split") << emoji << emoji.left(32766);
}

void tst_CellValue::cellTextBytes()
{
    QFETCH(QString, text);
    QFETCH(QString, kept);
    const QByteArray utf8 = text.toUtf8();
    QCOMPARE(QString::fromUtf8(utf8.left(quarvel::sheet::cellTextBytes(utf8))), kept);
}

void tst_CellValue::isPlainText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("plain");

    QTest::newRow("ascii") << QByteArray("abc") << true;
    QTest::newRow("utf-8") << QStringLiteral("中文").toUtf8() << true;
    QTest::newRow("line breaks and tabs") << QByteArray("a\tb\r\nc") << true;
    QTest::newRow("invalid utf-8") << QByteArray("\xFF\x01", 2) << false;
    QTest::newRow("nul padding") << QByteArray("ab\0", 3) << false;
    QTest::newRow("control character") << QByteArray("a\x02") << false;
}

void tst_CellValue::isPlainText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, plain);
    QCOMPARE(quarvel::sheet::isPlainText(bytes), plain);
}

void tst_CellValue::workbookText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("plain text") << QByteArray("a_x_b") << QByteArray("a_x_b");
    QTest::newRow("one sequence") << QByteArray("_x0041_") << QByteArray("_x005F_x0041_");
    QTest::newRow("lower-case hex, inside text")
        << QByteArray("a_x00e9_b") << QByteArray("a_x005F_x00e9_b");
    QTest::newRow("two in a row") << QByteArray("_x0041__x0042_")
                                  << QByteArray("_x005F_x0041__x005F_x0042_");
    QTest::newRow("two sharing an underscore")
        << QByteArray("_x005F_x0041_") << QByteArray("_x005F_x005F_x005F_x0041_");
    QTest::newRow("not hex") << QByteArray("_x00G1_") << QByteArray("_x00G1_");
    QTest::newRow("too short at the end") << QByteArray("ab_x004") << QByteArray("ab_x004");
    QTest::newRow("tab, line breaks and Chinese stay")
        << QByteArray("a\tb\r\nc 岚拓 \xF0\x9F\x98\x80")
        << QByteArray("a\tb\r\nc 岚拓 \xF0\x9F\x98\x80");
    QTest::newRow("NUL keeps the text after it")
        << QByteArray("a\0b", 3) << QByteArray("a_x0000_b");
    QTest::newRow("other controls")
        << QByteArray("\x01\x1F\x7F") << QByteArray("_x0001__x001F_\x7F");
    QTest::newRow("U+FFFE and U+FFFF") << QByteArray("x\xEF\xBF\xBE"
                                                     "y\xEF\xBF\xBF")
                                       << QByteArray("x_xFFFE_y_xFFFF_");
    QTest::newRow("U+FFFD stays") << QByteArray("\xEF\xBF\xBD") << QByteArray("\xEF\xBF\xBD");
    QTest::newRow("lone surrogate") << QByteArray("a\xED\xA0\x80"
                                                  "b")
                                    << QByteArray("a_xD800_b");
    QTest::newRow("bytes that are no UTF-8")
        << QByteArray("a\xFF\xC3") << QByteArray("a_xFFFD__xFFFD_");
    QTest::newRow("overlong") << QByteArray("\xC0\xAF") << QByteArray("_xFFFD__xFFFD_");
}

void tst_CellValue::workbookText()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, written);
    QCOMPARE(quarvel::sheet::workbookText(text), written);
}

void tst_CellValue::serialNumber_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("written");
    // The nearest number and its 16-digit form lie just before these moments (the first is
    // 25569.00001157407): a reader that cuts to whole seconds would show a second early.
    QTest::newRow("one second into 1970")
        << QByteArray("1970-01-01 00:00:01") << QByteArray("25569.00001157408");
    QTest::newRow("a fraction exact in decimals, not in binary")
        << QByteArray("1969-11-03 13:33:09") << QByteArray("25510.56468750001");
    QTest::newRow("one millisecond into the first day a cell holds")
        << QByteArray("1900-03-01 00:00:00.001") << QByteArray("61.00000001157408");
    QTest::newRow("last millisecond a cell holds")
        << QByteArray("9999-12-31 23:59:59.999") << QByteArray("2958465.999999989");
    // Already at or after the moment: as it is.
    QTest::newRow("milliseconds") << QByteArray("2024-05-01 13:45:10.250")
                                  << QByteArray("45413.57303530093");
    QTest::newRow("midnight") << QByteArray("2024-05-01 00:00:00") << QByteArray("45413");
}

void tst_CellValue::serialNumber()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, written);
    const std::optional<DateTimeValue> value = quarvel::sheet::parseDateTime(text, true);
    QVERIFY(value);
    QCOMPARE(quarvel::sheet::writtenNumber(quarvel::sheet::serialNumber(*value)), written);
}

QTEST_APPLESS_MAIN(tst_CellValue)
#include "tst_CellValue.moc"
