// Register import and export from the user-card window, with real files in a temporary
// folder and the file dialogs answered by the test.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QtTest/QTest>

#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/FileDialog.h"
#include "register/Card.h"
#include "register/CardFields.h"
#include "ui/UserCardDlg.h"
#include "ui/UserCardIds.h"

namespace {

using namespace UserCardIds;

class UserCardFilesTest : public UserCardTest {
protected:
    UserCardFilesTest() {
        for (int n = 1; n <= 4; ++n) {
            Add(CardNoText(n), n);
        }
    }
    void Add(const std::string& key, int number) {
        UserCardTest::Add(key, number).m_strName = "holder " + key;
    }

    FileDlg::Recorder dialogs;
};

TEST_F(UserCardFilesTest, ExportThenImportGivesTheSameRegister) {
    Open();
    dialogs.QueueAnswer(Path("out"));
    Click(IDC_EXPORT);
    ASSERT_EQ(dialogs.asked().size(), 1u);
    EXPECT_TRUE(dialogs.asked()[0].save);
    EXPECT_EQ(dialogs.asked()[0].title, QStringLiteral("保存为一个kcd格式的文件"));
    EXPECT_EQ(dialogs.asked()[0].filterNames, QStringList{QStringLiteral("Files(*.kcd)")});
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("导出文件保存于%1!").arg(Path("out.kcd")));
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Warning);
    const std::string exported = RegisterBytes(app.m_mapCards);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "out.kcd"), exported));
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), exported));

    // Changes after the export are undone by importing it again.
    app.m_mapCards.RemoveKey("000002");
    Add("000009", 9);
    dialogs.QueueAnswer(Path("out.kcd"));
    Click(IDC_IMPORT);
    EXPECT_EQ(dialogs.asked()[1].title, QStringLiteral("选择一个kcd格式的文件"));
    EXPECT_EQ(dialogs.asked()[1].filterNames,
              (QStringList{QStringLiteral("Files(*.kcd)"), QStringLiteral("All Files")}));
    EXPECT_FALSE(dialogs.asked()[1].save);
    EXPECT_EQ(boxes.shown().back().text, QStringLiteral("导入文件成功!"));
    EXPECT_EQ(boxes.shown().back().icon, QMessageBox::NoIcon);
    EXPECT_TRUE(SameBytes(RegisterBytes(app.m_mapCards), exported));
    EXPECT_EQ(Listed(), InRegisterOrder());
    EXPECT_EQ(app.m_nMaxNumber, 9u);  // raised only while reading
    // The imported cards are the register file at once; the register as it was before the
    // import is its backup.
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), exported));
    EXPECT_NE(ReadFile(dir / "cardbook.kcd.old").find("000009"), std::string::npos);
}

TEST_F(UserCardFilesTest, ImportReplacesTheRegisterWithTheFile) {
    CCardMap other;
    for (const char* key : {"000002", "000077"}) {
        auto card = MakeCard(key, 20);
        card->m_strName = "other";
        other.SetAt(key, std::move(card));
    }
    WriteFile(dir / "other.kcd", RegisterBytes(other));
    Open();
    dialogs.QueueAnswer(Path("other.kcd"));
    Click(IDC_IMPORT);
    EXPECT_EQ(app.m_mapCards.GetCount(), 2u);
    EXPECT_EQ(app.m_mapCards.Lookup("000002")->m_strName, "other");
    EXPECT_EQ(app.m_mapCards.Lookup("000001"), nullptr);
    EXPECT_EQ(Listed(), InRegisterOrder());
    EXPECT_EQ(app.m_nMaxNumber, 20u);
}

TEST_F(UserCardFilesTest, ImportThatReadsNothing) {
    Open();
    const std::vector<std::string> before = InRegisterOrder();
    const std::string bytesBefore = RegisterBytes(app.m_mapCards);

    Click(IDC_IMPORT);  // cancelled: not even the save
    EXPECT_FALSE(FileExists(dir / "cardbook.kcd"));
    EXPECT_TRUE(boxes.shown().empty());

    WriteFile(dir / "empty.kcd", "");
    dialogs.QueueAnswer(Path("empty.kcd"));
    Click(IDC_IMPORT);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("文件是空的")));
    EXPECT_TRUE(SameBytes(RegisterBytes(app.m_mapCards), bytesBefore));
    EXPECT_EQ(Listed(), before);  // rebuilt, in the register's order

    dialogs.QueueAnswer(Path("missing.kcd"));
    Click(IDC_IMPORT);
    EXPECT_TRUE(boxes.shown().back().text.startsWith(QStringLiteral("无法打开文件")));

    // A damaged file: told what is wrong, nothing changed, the list not rebuilt.
    window->m_list.DeleteItem(0);
    std::string damaged = RegisterBytes(app.m_mapCards);
    damaged.resize(damaged.size() - 3);
    WriteFile(dir / "damaged.kcd", damaged);
    dialogs.QueueAnswer(Path("damaged.kcd"));
    Click(IDC_IMPORT);
    EXPECT_TRUE(boxes.shown().back().text.startsWith(QStringLiteral("卡片登记文件无法读取")));
    EXPECT_TRUE(SameBytes(RegisterBytes(app.m_mapCards), bytesBefore));
    EXPECT_EQ(Rows(), 3);
    EXPECT_EQ(boxes.shown().size(), 3u);
}

TEST_F(UserCardFilesTest, ExportNamesAndOverwrite) {
    Open();
    const struct {
        const char* typed;
        const char* written;
    } names[] = {{"abc", "abc.kcd"}, {"def.kcd", "def.kcd"}, {"ghi.KCD", "ghi.KCD.kcd"}};
    for (const auto& n : names) {
        dialogs.QueueAnswer(Path(n.typed));
        Click(IDC_EXPORT);
        EXPECT_TRUE(FileExists(dir / n.written)) << n.typed;
    }
    EXPECT_FALSE(FileExists(dir / "ghi.KCD"));
    EXPECT_EQ(boxes.shown().size(), 3u);

    // abc.kcd exists: typing abc asks; No leaves it, Yes replaces it.
    WriteFile(dir / "abc.kcd", "old");
    boxes.clear();
    AnswerNext(QMessageBox::No);
    dialogs.QueueAnswer(Path("abc"));
    Click(IDC_EXPORT);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("保存的文件已经存在,是否覆盖?"));
    EXPECT_EQ(boxes.shown()[0].caption, QStringLiteral("保存"));
    EXPECT_EQ(ReadFile(dir / "abc.kcd"), "old");
    AnswerNext(QMessageBox::Yes);
    dialogs.QueueAnswer(Path("abc"));
    Click(IDC_EXPORT);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "abc.kcd"), RegisterBytes(app.m_mapCards)));
    EXPECT_EQ(boxes.shown().back().text, QStringLiteral("导出文件保存于%1!").arg(Path("abc.kcd")));
}

TEST_F(UserCardFilesTest, ExportWritesTheWholeRegisterOrNothing) {
    Open();
    // A query that shows one card still exports all of them.
    Type(IDC_QUERY_CARD_NO, QStringLiteral("000003"));
    Picker(IDC_QUERY_FROM)->setDate(QDate(2000, 1, 1));
    app.m_mapCards.Lookup("000003")->m_strRegDate =
        QDate::currentDate().toString(QStringLiteral("yyyyMMdd")).toStdString();
    Click(IDC_QUERY);
    ASSERT_EQ(Rows(), 1);
    dialogs.QueueAnswer(Path("part"));
    Click(IDC_EXPORT);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "part.kcd"), RegisterBytes(app.m_mapCards)));

    // An empty list: no dialog at all.
    Type(IDC_QUERY_CARD_NO, QStringLiteral("999999"));
    Click(IDC_QUERY);
    ASSERT_EQ(Rows(), 0);
    const size_t asked = dialogs.asked().size();
    Click(IDC_EXPORT);
    EXPECT_EQ(dialogs.asked().size(), asked);

    // A copy that cannot be made is reported, not announced as saved.
    Click(IDC_SHOW_ALL);
    boxes.clear();
    dialogs.QueueAnswer(Path("no-such-folder/x"));
    Click(IDC_EXPORT);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("导出失败")));
}

TEST(FileDialogTest, TheDialogShowsEachFilterByItsNameOnce) {
    struct Case {
        bool save;
        std::vector<FileDlg::Filter> filters;
        QStringList shown;
    };
    const Case cases[] = {
        {false,
         {{QStringLiteral("Files(*.kcd)"), QStringLiteral("*.kcd")},
          {QStringLiteral("All Files"), QStringLiteral("*.*")}},
         {QStringLiteral("Files(*.kcd)"), QStringLiteral("All Files")}},
        {true,
         {{QStringLiteral("Files(*.xls)"), QStringLiteral("*.xls")}},
         {QStringLiteral("Files(*.xls)")}},
    };
    for (const Case& c : cases) {
        QFileDialog dialog;
        FileDlg::SetUp(dialog, c.save, QStringLiteral("标题"), c.filters);
        dialog.setOption(QFileDialog::DontUseNativeDialog);  // the widgets to look at
        auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        ASSERT_NE(types, nullptr);
        QStringList shown;
        for (int i = 0; i < types->count(); ++i) {
            shown << types->itemText(i);
        }
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("标题"));
        EXPECT_EQ(dialog.acceptMode(), c.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        // The first is chosen, and it selects by its pattern.
        EXPECT_EQ(dialog.selectedNameFilter(), c.filters[0].name);
        EXPECT_EQ(dialog.nameFilters().value(0),
                  c.filters[0].name + QStringLiteral(" (") + c.filters[0].pattern + ')');
    }
}

}  // namespace
