// A stand-in for the program in the tests of the real process, built from the program's own
// libraries. Prints READY on standard output once it has done its part, then waits to be
// killed; on a failure it says what went wrong on standard error and exits 1.
//
//   program_driver cards FOLDER SAVED ISSUED
//       the program's start-up on FOLDER; in the user-card window a card SAVED typed in and
//       saved ("保存"), then a card ISSUED typed in and issued on the reader ("发行卡片")
//   program_driver lock FOLDER
//       holds the lock of FOLDER's register, as a running program does

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QSize>

#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <string>

#include "WindowDriver.h"
#include "app/OrvaneApp.h"
#include "app/PasswordDlg.h"
#include "app/PasswordIds.h"
#include "store/RegisterLock.h"
#include "ui/UserCardIds.h"

namespace {

using namespace UserCardIds;

[[noreturn]] void Ready() {
    std::printf("READY\n");
    std::fflush(stdout);
    for (;;) {
        ::pause();
    }
}

int HoldLock(const std::string& folder) {
    CRegisterLock lock;
    std::string error;
    if (lock.Acquire(folder + "/" + kRegisterFileName, error) != CRegisterLock::Result::Locked) {
        std::fprintf(stderr, "the lock was not taken: %s\n", error.c_str());
        return 1;
    }
    Ready();
}

// The operator's steps; a step that goes wrong is reported through gtest's assertions.
void SaveAndIssue(COrvaneApp& app, const QString& saved, const QString& issued) {
    WindowDriver driver;
    ASSERT_TRUE(app.InitInstance());
    ASSERT_TRUE(app.m_comPort.IsOpen());
    const std::unique_ptr<CUserCardDlg> window = NewUserCardWindow(app);
    driver.Open(window.get(), QSize(1280, 800));

    driver.Click(IDC_NEW);
    driver.Type(IDC_CARD_NO, saved);
    driver.Type(IDC_NAME, QStringLiteral("张三"));
    // The working password, which the reader checks when the next card is issued.
    EXPECT_TRUE(driver.ClickIntoDialog(IDC_PASSWORD, [&](QWidget&) {
        driver.Type(PasswordIds::IDC_PASSWORD, QStringLiteral("5820463917"));
        driver.ClickButton(QStringLiteral("确认"));
    }));
    driver.Click(IDC_SAVE);
    ASSERT_TRUE(driver.Messages().isEmpty()) << driver.Messages().join('|').toStdString();

    driver.Click(IDC_CANCEL);
    driver.Click(IDC_NEW);
    driver.Type(IDC_CARD_NO, issued);
    driver.Type(IDC_NAME, QStringLiteral("李四"));
    driver.Click(IDC_ISSUE_CARD);
    EXPECT_EQ(driver.Message(1), QStringLiteral("发卡成功并保存!"));
}

int SaveAndIssueThenWait(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvane"));
    COrvaneApp app(argv[2]);
    ::testing::TestPartResultArray failures;
    {
        const ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &failures);
        SaveAndIssue(app, QString::fromUtf8(argv[3]), QString::fromUtf8(argv[4]));
    }
    if (failures.size() == 0) {
        Ready();
    }
    for (int i = 0; i < failures.size(); ++i) {
        const ::testing::TestPartResult& failure = failures.GetTestPartResult(i);
        std::fprintf(stderr, "%s:%d: %s\n", failure.file_name() ? failure.file_name() : "?",
                     failure.line_number(), failure.message());
    }
    return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 3 && std::strcmp(argv[1], "lock") == 0) {
        return HoldLock(argv[2]);
    }
    if (argc == 5 && std::strcmp(argv[1], "cards") == 0) {
        return SaveAndIssueThenWait(argc, argv);
    }
    std::fprintf(stderr, "usage: program_driver cards FOLDER SAVED ISSUED | lock FOLDER\n");
    return 2;
}
