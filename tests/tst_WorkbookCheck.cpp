// The check a finished workbook passes before it may replace the user's file: a sound workbook
// passes; a cut, a damaged byte or a part cut short inside an intact zip are told.

#include "SheetWriter.h"
#include "TestSupport.h"
#include "WorkbookCheck.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace quarvel;

class tst_WorkbookCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void defects_data();
    void defects();

private:
    QTemporaryDir m_dir;
    QString m_good;
};

void tst_WorkbookCheck::initTestCase()
{
    m_good = m_dir.filePath(QStringLiteral("good.xlsx"));
    sheet::SheetWriter writer(m_good);
    writer.addSheet(QStringLiteral("查询结果1"), {QStringLiteral("id"), QStringLiteral("name")},
                    {false, true});
    for (int row = 1; row <= 2000; ++row) {
        writer.writeNumber(row, 0, row, QByteArray::number(row));
        writer.writeText(row, 1, QByteArray("name ") + QByteArray::number(row * 7919));
    }
    writer.save();
}

void tst_WorkbookCheck::defects_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("defect"); // empty: none
    QTest::newRow("sound") << "none"
                           << "";
    QTest::newRow("cut in half") << "half"
                                 << "no zip directory";
    QTest::newRow("a byte changed inside the rows") << "flip"
                                                    << "part xl/worksheets/sheet1.xml";
    QTest::newRow("rows part cut short, zip intact") << "shortPart"
                                                     << "part xl/worksheets/sheet1.xml: cut short";
}

void tst_WorkbookCheck::defects()
{
    QFETCH(QString, damage);
    QFETCH(QString, defect);
    const QByteArray good = test::readAll(m_good);
    QVERIFY(good.size() > 4096);
    const QString path = m_dir.filePath(damage + QStringLiteral(".xlsx"));
    if (damage == "none") {
        QVERIFY(test::writeAll(path, good));
    } else if (damage == "half") {
        QVERIFY(test::writeAll(path, good.first(good.size() / 2)));
    } else if (damage == "flip") {
        // The rows' part is the largest entry and lies near the start of the file.
        QByteArray damaged = good;
        const qsizetype at = damaged.indexOf("xl/worksheets/sheet1.xml") + 200;
        damaged[at] = char(damaged[at] ^ 0x55);
        QVERIFY(test::writeAll(path, damaged));
    } else {
        // Rewritten with the rows' part ending in the middle of a row, as a working file that
        // filled the disk leaves it.
        QProcess python;
        python.start(
            QStringLiteral(QUARVEL_XLSX_PYTHON),
            {QStringLiteral("-c"),
             QStringLiteral("import sys, zipfile\n"
                            "src = zipfile.ZipFile(sys.argv[1])\n"
                            "dst = zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED)\n"
                            "for item in src.infolist():\n"
                            "    data = src.read(item.filename)\n"
                            "    if item.filename == 'xl/worksheets/sheet1.xml':\n"
                            "        data = data[:len(data) // 2]\n"
                            "    dst.writestr(item, data)\n"
                            "dst.close()\n"),
             m_good, path});
        QVERIFY(python.waitForFinished(30000));
        QCOMPARE(python.exitCode(), 0);
    }
    const QString found = sheet::workbookDefect(path);
    if (defect.isEmpty())
        QCOMPARE(found, QString());
    else
        QVERIFY2(found.startsWith(defect), qPrintable(found));
}

QTEST_APPLESS_MAIN(tst_WorkbookCheck)
#include "tst_WorkbookCheck.moc"
