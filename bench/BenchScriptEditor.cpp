// Opening a large script into the editor, against reading and decoding the same file; and the
// cost of one keystroke at the end of a small and of a large script.

#include "LegacyText.h"
#include "SqlEditor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

using namespace quarvel;

namespace {

QByteArray makeScript(int lines)
{
    QByteArray script;
    script.reserve(qsizetype(lines) * 52);
    for (int i = 0; i < lines; ++i) {
        switch (i % 5) {
        case 0:
            script += "-- 第" + QByteArray::number(i) + "条 update of the order table\r\n";
            break;
        case 1:
            script +=
                "select id, name, price from orders where id = " + QByteArray::number(i) + ";\r\n";
            break;
        case 2:
            script += "insert into 订单 values (" + QByteArray::number(i) + ", 'it''s', 1.5);\r\n";
            break;
        case 3:
            script += "/* block */ update t set a = \"x\" where b > 0x1F;\r\n";
            break;
        default:
            script += "\tdelete from t where name like '%张%' and v <> 3;\r\n";
            break;
        }
    }
    return script;
}

double bestMs(int runs, const std::function<void()>& run)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

std::unique_ptr<SqlEditor> shownEditor()
{
    auto editor = std::make_unique<SqlEditor>();
    editor->resize(1000, 700);
    editor->show();
    return editor;
}

struct KeystrokeCost
{
    double total;  // the key through QScintilla, then styling and painting
    double styled; // styling and painting alone
};

// Per keystroke typed at the end of the script in `path`, best of three rounds.
KeystrokeCost keystrokeMs(const QString& path)
{
    auto editor = shownEditor();
    editor->loadScript(path);
    const int last = editor->lines() - 1;
    editor->setCursorPosition(last, editor->text(last).size());
    editor->ensureCursorVisible();
    editor->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0L, -1L);
    editor->viewport()->repaint();
    constexpr int kKeys = 40;
    KeystrokeCost best{1e300, 1e300};
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer total;
        total.start();
        qint64 styled = 0;
        for (int i = 0; i < kKeys; ++i) {
            QTest::keyClick(editor.get(), Qt::Key_X);
            QElapsedTimer styling;
            styling.start();
            // From where styling stopped: a start of 0 would restyle everything.
            editor->SendScintilla(QsciScintillaBase::SCI_COLOURISE,
                                  editor->SendScintilla(QsciScintillaBase::SCI_GETENDSTYLED), -1L);
            editor->viewport()->repaint();
            styled += styling.nsecsElapsed();
        }
        best.total = std::min(best.total, total.nsecsElapsed() / 1e6 / kKeys);
        best.styled = std::min(best.styled, styled / 1e6 / kKeys);
    }
    return best;
}

// Per keystroke typing a statement that opens completion ("count(", "table."), with the
// names of `tables` tables of 10 columns each loaded, best of three rounds.
double typingWithSchemaMs(int tables)
{
    auto editor = shownEditor();
    editor->move(0, 0);
    QStringList names;
    QHash<QString, QStringList> columns;
    for (int t = 0; t < tables; ++t) {
        const QString name = QStringLiteral("tbl_%1").arg(t);
        names << name;
        QStringList cols;
        for (int c = 0; c < 10; ++c)
            cols << QStringLiteral("col_%1").arg(c);
        columns.insert(name, cols);
    }
    editor->setSchema(names, columns);
    const QString typed =
        QStringLiteral("select count(ta, tbl_5000.co) from tbl_5000 where x = 1 ");
    double best = 1e300;
    for (int round = 0; round < 3; ++round) {
        editor->setText(QString());
        QElapsedTimer timer;
        timer.start();
        for (const QChar c : typed) {
            QTest::keyClicks(editor.get(), QString(c));
            editor->viewport()->repaint();
        }
        editor->SendScintilla(QsciScintillaBase::SCI_AUTOCCANCEL);
        best = std::min(best, timer.nsecsElapsed() / 1e6 / typed.size());
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString big = dir.filePath("big.sql");
    const QString small = dir.filePath("small.sql");
    {
        QFile file(big);
        file.open(QIODevice::WriteOnly);
        file.write(makeScript(400000));
        QFile smallFile(small);
        smallFile.open(QIODevice::WriteOnly);
        smallFile.write(makeScript(10000));
    }
    const double mb = QFileInfo(big).size() / 1e6;

    const double decodeMs = bestMs(3, [&] {
        QFile file(big);
        file.open(QIODevice::ReadOnly);
        const QString text = decodeLegacyText(file.readAll());
        if (text.isEmpty())
            std::abort();
    });
    const double openMs = bestMs(3, [&] {
        auto editor = shownEditor();
        editor->loadScript(big);
        editor->viewport()->repaint(); // styles and paints the first screen
    });
    std::printf("open %.1f MB, 400000 lines: read+decode %.1f ms, into the editor %.1f ms, "
                "ratio %.2f (target <= 3)\n",
                mb, decodeMs, openMs, openMs / decodeMs);

    if (qEnvironmentVariableIsSet("BENCH_OPEN_ONLY"))
        return 0;
    const double noSchema = typingWithSchemaMs(0);
    const double bigSchema = typingWithSchemaMs(10000);
    std::printf("typing with completion: no schema %.3f ms, 10000 tables x 10 columns %.3f ms "
                "per key, ratio %.2f\n",
                noSchema, bigSchema, bigSchema / noSchema);
    const KeystrokeCost smallKey = keystrokeMs(small);
    const KeystrokeCost bigKey = keystrokeMs(big);
    std::printf("keystroke at the end, style+paint: 10000 lines %.3f ms, 400000 lines %.3f ms, "
                "ratio %.2f (target ~1)\n",
                smallKey.styled, bigKey.styled, bigKey.styled / smallKey.styled);
    std::printf("keystroke at the end, whole: 10000 lines %.3f ms, 400000 lines %.3f ms, "
                "ratio %.2f\n",
                smallKey.total, bigKey.total, bigKey.total / smallKey.total);
    return 0;
}
