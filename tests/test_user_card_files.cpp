// Register import and export from the user-card window, with real files in a temporary
// folder and the file dialogs answered by the test.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <QWindow>
#include <QtTest/QTest>

#include "GuiTestUtil.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/ControlId.h"
#include "app/FileDialog.h"
#include "cards/CardList.h"
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
    // The register's keys in the order of the list when the window opens: by card number.
    std::vector<std::string> ByCardNumber() const {
        std::vector<std::string> keys;
        for (const CCardMap::CAssoc* entry : CardListOrder(app.m_mapCards)) {
            keys.push_back(entry->key.str());
        }
        return keys;
    }
    QString Question(size_t cards) const {
        return QStringLiteral("导入将用文件中的卡片替换当前全部%1张卡片,是否继续?").arg(cards);
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
    ASSERT_EQ(boxes.shown().size(), 3u);
    EXPECT_EQ(boxes.shown()[1].text, Question(4));
    EXPECT_EQ(boxes.shown()[1].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(boxes.shown()[2].text, QStringLiteral("导入文件成功!"));
    EXPECT_EQ(boxes.shown()[2].icon, QMessageBox::NoIcon);
    EXPECT_TRUE(SameBytes(RegisterBytes(app.m_mapCards), exported));
    EXPECT_EQ(Listed(), ByCardNumber());
    EXPECT_EQ(app.m_nMaxNumber, 9u);  // raised only while reading
    // The imported cards are the register file at once; the register as it was before the
    // import is its backup.
    EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), exported));
    EXPECT_NE(ReadFile(dir / "cardbook.kcd.old").find("000009"), std::string::npos);
}

// The import asks before it replaces the register; No leaves everything as it was, even the
// register's file. Yes replaces it, and the list shows the new cards by card number.
TEST_F(UserCardFilesTest, ImportAsksThenReplacesTheRegisterWithTheFile) {
    CCardMap other;
    for (const char* key : {"000300", "000002", "abc", "000077", "000010", "000000"}) {
        auto card = MakeCard(key, 20);
        card->m_strName = "other";
        other.SetAt(key, std::move(card));
    }
    WriteFile(dir / "other.kcd", RegisterBytes(other));
    Open();
    const std::string before = RegisterBytes(app.m_mapCards);
    AnswerNext(QMessageBox::No);
    dialogs.QueueAnswer(Path("other.kcd"));
    Click(IDC_IMPORT);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, Question(4));
    EXPECT_EQ(boxes.shown()[0].parent, window.get());
    EXPECT_TRUE(SameBytes(RegisterBytes(app.m_mapCards), before));
    EXPECT_FALSE(FileExists(dir / "cardbook.kcd"));  // not even saved
    EXPECT_EQ(Rows(), 4);

    AnswerNext(QMessageBox::Yes);
    dialogs.QueueAnswer(Path("other.kcd"));
    Click(IDC_IMPORT);
    ASSERT_EQ(boxes.shown().size(), 3u);
    EXPECT_EQ(boxes.shown()[1].text, Question(4));
    EXPECT_EQ(boxes.shown()[2].text, QStringLiteral("导入文件成功!"));
    EXPECT_EQ(app.m_mapCards.GetCount(), 6u);
    EXPECT_EQ(app.m_mapCards.Lookup("000002")->m_strName, "other");
    EXPECT_EQ(app.m_mapCards.Lookup("000001"), nullptr);
    EXPECT_EQ(app.m_nMaxNumber, 20u);
    const std::vector<std::string> listed = Listed();
    EXPECT_EQ(listed, ByCardNumber());
    EXPECT_EQ(std::vector<std::string>(listed.begin(), listed.begin() + 4),
              (std::vector<std::string>{"000002", "000010", "000077", "000300"}));

    // The count is that of the register as it now stands; an empty register is not asked for.
    boxes.clear();
    dialogs.QueueAnswer(Path("other.kcd"));
    Click(IDC_IMPORT);
    EXPECT_EQ(boxes.shown().front().text, Question(6));
    app.m_mapCards.RemoveAll();
    Open();
    boxes.clear();
    dialogs.QueueAnswer(Path("other.kcd"));
    Click(IDC_IMPORT);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("导入文件成功!"));
    EXPECT_EQ(app.m_mapCards.GetCount(), 6u);
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
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[0].text, Question(4));
    EXPECT_TRUE(boxes.shown()[1].text.startsWith(QStringLiteral("文件是空的")));
    EXPECT_TRUE(SameBytes(RegisterBytes(app.m_mapCards), bytesBefore));
    EXPECT_EQ(Listed(), before);  // rebuilt, in the register's order

    dialogs.QueueAnswer(Path("missing.kcd"));
    Click(IDC_IMPORT);
    EXPECT_TRUE(boxes.shown().back().text.startsWith(QStringLiteral("无法打开文件")));

    // A damaged file, or none of the register's format: one plain sentence over the window,
    // what is wrong under the details; nothing changed, the list not rebuilt.
    window->m_list.DeleteItem(0);
    std::string damaged = RegisterBytes(app.m_mapCards);
    damaged.resize(damaged.size() - 3);
    WriteFile(dir / "damaged.kcd", damaged);
    WriteFile(dir / "letter.kcd", "Dear operator,\nthis is no register.\n");
    for (const char* name : {"damaged.kcd", "letter.kcd"}) {
        boxes.clear();
        dialogs.QueueAnswer(Path(name));
        Click(IDC_IMPORT);
        ASSERT_EQ(boxes.shown().size(), 2u) << name;
        const Msg::Shown& box = boxes.shown()[1];
        EXPECT_EQ(box.text, QStringLiteral("文件不是卡片登记文件,或者已经损坏。"));
        EXPECT_TRUE(box.details.startsWith(Path(name) + '\n')) << box.details.toStdString();
        EXPECT_GT(box.details.size(), Path(name).size() + 2) << name;  // and the cause
        EXPECT_EQ(box.parent, window.get());
        EXPECT_TRUE(SameBytes(RegisterBytes(app.m_mapCards), bytesBefore));
        EXPECT_EQ(Rows(), 3);
    }
}

// Shown for real, the box about a file that is no register sits over the user-card window
// (its parent, the window it is transient for), not over the main window, and the operator
// reads its cause under the details.
TEST(ImportBoxTest, TheBoxStaysOverTheUserCardWindow) {
    TempDir dir;
    COrvaneApp app{dir.path()};
    app.m_mapCards.SetAt("000001", MakeCard("000001", 1));
    WriteFile(dir / "letter.kcd", "no register");
    QWidget mainWindow;  // stands for the main window, shown and active before
    mainWindow.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&mainWindow));
    const auto window = NewUserCardWindow(app);
    FileDlg::Recorder dialogs;
    dialogs.QueueAnswer(QString::fromStdString(dir / "letter.kcd"));

    struct Seen {
        QString text;
        QString details;
        QWidget* parent;
        QWindow* transientParent;
        QWidget* active;
        QList<QWidget*> topLevels;
    };
    std::vector<Seen> seen;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible() || !box->windowHandle()) {
            return;
        }
        seen.push_back({box->text(), box->detailedText(), box->parentWidget(),
                        box->windowHandle()->transientParent(), QApplication::activeWindow(),
                        QApplication::topLevelWidgets()});
        box->done(box->buttons().contains(box->button(QMessageBox::Yes)) ? QMessageBox::Yes
                                                                         : QMessageBox::Ok);
    });
    answer.start(10);
    QTimer::singleShot(0, [&] {
        ClickControl(FindControl(window.get(), IDC_IMPORT));
        window->reject();
    });
    window->exec();              // modal, as the program opens it
    ASSERT_EQ(seen.size(), 2u);  // the question, then the failure
    EXPECT_EQ(seen[0].parent, window.get());
    const Seen& failure = seen[1];
    EXPECT_EQ(failure.text, QStringLiteral("文件不是卡片登记文件,或者已经损坏。"));
    EXPECT_TRUE(failure.details.contains(QStringLiteral("letter.kcd")));
    EXPECT_EQ(failure.parent, window.get());
    EXPECT_EQ(failure.transientParent, window->windowHandle());
    EXPECT_NE(failure.active, &mainWindow);
    EXPECT_TRUE(failure.topLevels.contains(window.get()));
    EXPECT_EQ(app.m_mapCards.GetCount(), 1u);
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
