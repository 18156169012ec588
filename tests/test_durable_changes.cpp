// Changes made in the windows reach the disk before the operator is told: a program that
// ends without its shut-down (killed, the power gone) finds them at the next start and
// writes the same register a clean run would have; a full disk refuses what no device has
// carried out yet and keeps what a device has; one program per register.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <memory>

#include "ScopedTmpfs.h"
#include "StoreTestUtil.h"
#include "TestUtil.h"
#include "WindowDriver.h"
#include "app/PasswordDlg.h"
#include "app/PasswordIds.h"
#include "store/HistoryFile.h"
#include "ui/UserCardDlg.h"
#include "ui/UserCardIds.h"

namespace {

using namespace UserCardIds;

std::string TwoCards() {
    CCardMap map;
    for (const char* key : {"000001", "000002"}) {
        auto card = MakeCard(key, key[5] - '0');
        card->m_strName = "holder";
        card->m_strPassword = "5820463917";
        card->m_strValidDate = "20301231";
        map.SetAt(key, std::move(card));
    }
    return RegisterBytes(map);
}

class DurableTest : public ::testing::Test, public WindowDriver {
protected:
    void Start(const std::string& folder) {
        app = std::make_unique<COrvaneApp>(folder);
        ASSERT_TRUE(app->InitInstance());
        boxes.clear();  // the port that is not there
    }
    void OpenWindow() {
        window = NewUserCardWindow(*app);
        Open(window.get(), QSize(1280, 800));
    }
    // The process ends here without its shut-down: nothing more is written.
    void Kill() {
        window.reset();
        app.reset();
    }
    void Exit() {
        window.reset();
        app->ExitInstance();
        app.reset();
    }
    void EnterPassword(const QString& password) {
        EXPECT_TRUE(ClickIntoDialog(IDC_PASSWORD, [&](QWidget&) {
            Type(PasswordIds::IDC_PASSWORD, password);
            ClickButton(QStringLiteral("确认"));
        }));
    }
    // "新增", card number, name, password and "保存".
    void SaveNewCard(const QString& cardNo, const QString& name) {
        Click(IDC_NEW);
        Type(IDC_CARD_NO, cardNo);
        Type(IDC_NAME, name);
        EnterPassword(QStringLiteral("5820463917"));
        Click(IDC_SAVE);
    }
    // A day's work in the window: a new card, a card changed and issued, a card deleted.
    void Work() {
        OpenWindow();
        SaveNewCard(QStringLiteral("000010"), QStringLiteral("李四"));
        ClickRow(RowOf("000002"));
        ASSERT_EQ(window->StoreIssuedCard(), CommitResult::Durable);  // the reader said yes
        ClickRow(RowOf("000001"));
        AnswerNext(QMessageBox::Yes);
        Click(IDC_DELETE);
    }

    std::unique_ptr<COrvaneApp> app;
    std::unique_ptr<CUserCardDlg> window;
};

TEST_F(DurableTest, KilledProgramLosesNothingAndWritesWhatACleanRunWrites) {
    TempDir clean;
    WriteFile(clean / "cardbook.kcd", TwoCards());
    Start(clean.path());
    Work();
    Exit();

    TempDir killed;
    WriteFile(killed / "cardbook.kcd", TwoCards());
    Start(killed.path());
    Work();
    Kill();
    EXPECT_TRUE(SameBytes(ReadFile(killed / "cardbook.kcd"), TwoCards()));  // not written

    Start(killed.path());
    EXPECT_TRUE(boxes.shown().empty());
    ASSERT_NE(app->m_mapCards.Lookup("000010"), nullptr);
    EXPECT_EQ(app->m_mapCards.Lookup("000001"), nullptr);
    EXPECT_EQ(app->m_mapCards.Lookup("000002")->m_nStatus, CARD_ISSUED);
    Exit();
    EXPECT_TRUE(SameBytes(ReadFile(killed / "cardbook.kcd"), ReadFile(clean / "cardbook.kcd")));
}

TEST_F(DurableTest, FullDiskRefusesASaveAndKeepsAnIssuedCard) {
    ScopedTmpfs disk;
    disk.Mount(1 << 20);
    WriteFile(disk / "cardbook.kcd", TwoCards());
    Start(disk.path());
    OpenWindow();
    disk.LeaveFree(0);
    // The journal's last page fills up: then a save is refused with nothing changed.
    int saved = 0;
    for (; saved < 40 && boxes.shown().empty(); ++saved) {
        char cardNo[8];
        std::snprintf(cardNo, sizeof cardNo, "%06d", 100 + saved);
        SaveNewCard(QString::fromLatin1(cardNo), QStringLiteral("住户"));
    }
    ASSERT_EQ(boxes.shown().size(), 1u) << "the disk never ran full";
    EXPECT_TRUE(boxes.shown()[0].text.contains(QStringLiteral("这次修改无法写入磁盘,没有保存")));
    EXPECT_TRUE(boxes.shown()[0].text.contains(QStringLiteral("磁盘空间不足")));
    char refused[8];
    std::snprintf(refused, sizeof refused, "%06d", 100 + saved - 1);
    EXPECT_EQ(app->m_mapCards.Lookup(refused), nullptr);
    EXPECT_TRUE(window->m_bNew);  // the form keeps what was typed
    EXPECT_EQ(RowOf(refused, false), -1);

    // The reader has written card 000001: it stays, and the operator hears it is not saved.
    boxes.clear();
    Click(IDC_CANCEL);
    ClickRow(RowOf("000001"));
    EXPECT_EQ(window->StoreIssuedCard(), CommitResult::NotYetSaved);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_TRUE(boxes.shown()[0].text.contains(QStringLiteral("卡片已经写好")));
    EXPECT_EQ(app->m_mapCards.Lookup("000001")->m_nStatus, CARD_ISSUED);

    // Room again: the next change takes the unsaved one with it.
    ::unlink((disk / "filler").c_str());
    boxes.clear();
    SaveNewCard(QString::fromLatin1(refused), QStringLiteral("住户"));
    EXPECT_TRUE(boxes.shown().empty());
    Kill();
    Start(disk.path());
    EXPECT_EQ(app->m_mapCards.Lookup("000001")->m_nStatus, CARD_ISSUED);
    EXPECT_NE(app->m_mapCards.Lookup(refused), nullptr);
    EXPECT_EQ(app->m_mapCards.GetCount(), 2u + static_cast<size_t>(saved));
    Exit();
}

TEST_F(DurableTest, PasswordIsWrittenWhenConfirmed) {
    TempDir dir;
    Start(dir.path());
    OpenWindow();
    Click(IDC_NEW);
    EnterPassword(QStringLiteral("1234567890"));
    EXPECT_NE(ReadFile(dir / "set.ini").find("pass=1234567890"), std::string::npos);
    Kill();
}

TEST_F(DurableTest, SecondProgramOnTheRegisterEndsWithoutTouchingIt) {
    TempDir dir;
    WriteFile(dir / "cardbook.kcd", TwoCards());
    WriteFile(dir / "set.ini", "[set]\r\ncom=7\r\n");
    Start(dir.path());
    std::vector<std::pair<std::string, std::string>> before;
    for (const std::string& name : ListDir(dir.path())) {
        before.emplace_back(name, ReadFile(dir / name));
    }

    COrvaneApp second(dir.path());
    EXPECT_FALSE(second.InitInstance());
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(
        QStringLiteral("卡片登记正在被另一个程序使用,不能同时打开。")));
    second.m_mapCards.SetAt("000099", MakeCard("000099", 99));
    EXPECT_EQ(second.ExitInstance(), 0);
    std::vector<std::pair<std::string, std::string>> after;
    for (const std::string& name : ListDir(dir.path())) {
        after.emplace_back(name, ReadFile(dir / name));
    }
    EXPECT_EQ(after, before);
    Exit();
}

TEST_F(DurableTest, GrownJournalIsFoldedIntoTheRegisterWhenTheOperatorPauses) {
    TempDir dir;
    Start(dir.path());
    CCardChange batch(CardOperation::Enrol, 30000);
    for (int n = 1; n <= 30000; ++n) {
        char key[8];
        std::snprintf(key, sizeof key, "%06d", n);
        auto card = MakeCard(key, n);
        card->m_strAddress = std::string(120, 'a');
        batch.Put(key, std::move(card));
    }
    std::string error;
    ASSERT_EQ(app->Store().Commit(std::move(batch), CommitMode::Refusable, error),
              CommitResult::Durable);
    EXPECT_FALSE(FileExists(dir / "cardbook.kcd"));
    QElapsedTimer waited;
    waited.start();
    while (!FileExists(dir / "cardbook.kcd") && waited.elapsed() < 30000) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    CCardMap written;
    uint32_t maxNumber = 0;
    ASSERT_EQ(LoadRegisterFile(dir / "cardbook.kcd", written, maxNumber, error),
              RegisterLoad::Loaded);
    EXPECT_EQ(written.GetCount(), 30000u);
    EXPECT_EQ(ReadFile(dir / "cardbook.kcd.journal").size(), CJournal::kHeaderSize);
    Kill();
}

}  // namespace

namespace {

TEST_F(DurableTest, HistoryChangedByHandIsReportedAtStartAndRecordingGoesOn) {
    TempDir folder;
    WriteFile(folder / "cardbook.kcd", TwoCards());
    Start(folder.path());
    Work();
    Exit();

    CHistoryFile::Contents contents;
    std::string error;
    ASSERT_TRUE(CHistoryFile::Read(folder / "cardbook.kcd.history", contents, error)) << error;
    CHistoryFile::Verify(contents);
    ASSERT_EQ(contents.records.size(), 4u);  // begun, 新增, 发卡, 删除
    EXPECT_EQ(contents.brokenAt, 0u);
    // The name in the third record (the card issued) changed by hand.
    const uint64_t at = contents.records[2].offset + CHistoryFile::kRecordHeaderSize + 60;
    contents = CHistoryFile::Contents();
    std::string bytes = ReadFile(folder / "cardbook.kcd.history");
    bytes[at] ^= 0x20;
    WriteFile(folder / "cardbook.kcd.history", bytes);

    app = std::make_unique<COrvaneApp>(folder.path());
    ASSERT_TRUE(app->InitInstance());
    int told = 0;
    for (const Msg::Shown& box : boxes.shown()) {
        told += box.text.contains(QStringLiteral("操作记录从第3条起与写入时不一致")) ? 1 : 0;
    }
    EXPECT_EQ(told, 1);
    boxes.clear();
    // The program goes on, and so does the history.
    OpenWindow();
    SaveNewCard(QStringLiteral("000020"), QStringLiteral("王五"));
    Exit();
    ASSERT_TRUE(CHistoryFile::Read(folder / "cardbook.kcd.history", contents, error)) << error;
    CHistoryFile::Verify(contents);
    EXPECT_EQ(contents.records.size(), 5u);
    EXPECT_EQ(contents.brokenAt, 3u);
}

}  // namespace
