// Saves a picture of the main window with a coloured script loaded through the open button.
// Usage: editor_shot <output.png>

#include "FakePrompts.h"
#include "Fonts.h"
#include "MainForm.h"
#include "TestSupport.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace quarvel;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    installFontSubstitutes();
    if (argc < 2)
        return 2;
    QTemporaryDir dir;
    test::writeConnectionConfig(dir.path(), test::testDb());
    const QString script = dir.filePath("demo.sql");
    test::writeAll(script, QStringLiteral("-- 岚拓数据库脚本: 查询订单 https://mariadb.com/kb\r\n"
                                          "select id, name, price * 1.5 as 价格\r\n"
                                          "from 订单 o inner join customer c on c.id = o.cid\r\n"
                                          "where name like '%张%' and note <> \"it's\"\r\n"
                                          "  and total >= 100 # hash comment\r\n"
                                          "order by id;\r\n"
                                          "/* block comment\r\n"
                                          "   over two lines */ update t set a = 0x1F;\r\n"
                                          "{ brace comment } delete from t where b = 'x'\r\n"
                                          "' an unmatched apostrophe comments out the line\r\n")
                               .toUtf8());
    test::FakePrompts prompts;
    TfrmMain form(dir.path());
    form.setPrompts(&prompts);
    form.show();
    prompts.fileAnswers << script;
    form.findChild<QToolButton*>("btnOpenSql")->click();
    QTest::qWait(300);
    return form.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
