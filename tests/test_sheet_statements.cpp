// The spreadsheet export's connection string and statements, and their reading back.

#include <gtest/gtest.h>

#include "sheet/SheetStatements.h"

namespace {

const std::vector<std::string> kTitles = {"编号",   "卡片状态", "卡号", "卡类",
                                          "有效期", "登记日期", "姓名", "联系电话",
                                          "门牌号", "证件号码", "地址", "备注"};

TEST(SheetStatements, AsTheDriverReceivesThem) {
    EXPECT_EQ(SheetConnectionString("Microsoft Excel Driver (*.xls)", "/tmp/a b.xls"),
              "DRIVER={Microsoft Excel Driver (*.xls)};DSN='''';FIRSTROWHASNAMES=1;"
              "READONLY=FALSE;CREATE_DB=\"/tmp/a b.xls\";DBQ=/tmp/a b.xls");
    EXPECT_EQ(SheetCreateTable(kTitles),
              "CREATE TABLE IC卡发卡信息 (  编号 NUMBER,  卡片状态 TEXT,  卡号 TEXT,  卡类 TEXT,  "
              "有效期 TEXT,  登记日期 TEXT,  姓名 TEXT,  联系电话 TEXT,  门牌号 TEXT,  证件号码 "
              "TEXT,  地址 TEXT,  备注 TEXT ) ");
    const std::vector<std::string> cells = {"7",        "已发行",   "000007",  "月卡",
                                            "20301231", "20240105", "O'Brien", "138",
                                            "1-101",    "110",      "''",      ""};
    EXPECT_EQ(
        SheetInsert(kTitles, cells),
        "INSERT INTO IC卡发卡信息 ( 编号 ,  卡片状态 ,  卡号 ,  卡类 ,  有效期 ,  登记日期 ,  "
        "姓名 ,  联系电话 ,  门牌号 ,  证件号码 ,  地址 ,  备注 ) VALUES(7, '已发行', "
        "'000007', '月卡', '20301231', '20240105', 'O''Brien', '138', '1-101', '110', "
        "'''''', '')");
    const std::vector<bool> text = {false, true, true, true, true, true,  true,
                                    true,  true, true, true, true, false, false};
    for (size_t c = 0; c < text.size(); ++c) {
        EXPECT_EQ(SheetColumnIsText(static_cast<int>(c)), text[c]) << c;
    }
}

TEST(SheetStatements, ReadBack) {
    const std::string connection = SheetConnectionString("X Excel;y", "/tmp/o;k.xlsx");
    EXPECT_EQ(SheetConnectionValue(connection, "DRIVER"), "{X Excel;y}");
    EXPECT_EQ(SheetConnectionValue(connection, "CREATE_DB"), "\"/tmp/o;k.xlsx\"");
    // DBQ is not quoted: a ';' in the name ends it, so the full name is CREATE_DB's.
    EXPECT_EQ(SheetConnectionValue(connection, "dbq"), "/tmp/o");
    EXPECT_EQ(SheetConnectionValue(SheetConnectionString("E", "/tmp/ok.xlsx"), "DBQ"),
              "/tmp/ok.xlsx");
    EXPECT_EQ(SheetConnectionValue(connection, "NOPE"), std::nullopt);

    const auto table = ParseSheetCreateTable(SheetCreateTable(kTitles));
    ASSERT_TRUE(table.has_value());
    EXPECT_EQ(table->first, "IC卡发卡信息");
    ASSERT_EQ(table->second.size(), 12u);
    EXPECT_EQ(table->second[0].title, "编号");
    EXPECT_FALSE(table->second[0].text);
    EXPECT_EQ(table->second[11].title, "备注");
    EXPECT_TRUE(table->second[11].text);

    const std::vector<std::string> cells = {"42", "a, b)", "O'Brien", "''", ""};
    const auto values = ParseSheetInsert(SheetInsert({"n", "x", "y", "z", "w"}, cells));
    ASSERT_TRUE(values.has_value());
    ASSERT_EQ(values->size(), 5u);
    EXPECT_EQ((*values)[0].value, "42");
    EXPECT_FALSE((*values)[0].text);
    EXPECT_EQ((*values)[1].value, "a, b)");
    EXPECT_EQ((*values)[2].value, "O'Brien");
    EXPECT_EQ((*values)[3].value, "''");
    EXPECT_EQ((*values)[4].value, "");
    EXPECT_TRUE((*values)[4].text);

    for (const char* bad : {"", "CREATE TABLE", "CREATE TABLE t (", "CREATE TABLE t ( a DATE )",
                            "CREATE TABLE t ( a TEXT ) x", "DROP TABLE t"}) {
        EXPECT_EQ(ParseSheetCreateTable(bad), std::nullopt) << bad;
    }
    for (const char* bad : {"", "INSERT INTO t (a) VALUES('x)", "INSERT INTO t (a) VALUES(1",
                            "INSERT INTO t (a) VALUES(1) 2", "INSERT t (a) VALUES(1)"}) {
        EXPECT_EQ(ParseSheetInsert(bad), std::nullopt) << bad;
    }
}

}  // namespace
