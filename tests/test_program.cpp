// The real program, copied into a temporary folder with its files, started under the
// offscreen platform and ended by SIGTERM, SIGINT or SIGHUP as a service manager, a terminal or
// the end of the desktop session would.

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <fstream>

#include <chrono>
#include <sstream>
#include <thread>

#include "TestUtil.h"
#include "register/Archive.h"
#include "register/RegisterFile.h"

extern char** environ;

namespace {

// True once the process has installed a handler for `sig` (its SigCgt mask says so).
bool CatchesSignal(pid_t pid, int sig) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) {
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            return (mask >> (sig - 1)) & 1;
        }
    }
    return false;
}

// Runs the program in `dir` until it can take `sig`, sends it and returns the exit status.
// `port` names the entry through which the program finds its device (a pseudo-terminal).
int RunAndStop(const TempDir& dir, int sig, const std::string& port) {
    PseudoTerminal device;
    ::symlink(device.slave.c_str(), (dir / port).c_str());
    const std::string exe = dir / "orvane";
    WriteFile(exe, ReadFile(ORVANE_EXE));
    ::chmod(exe.c_str(), 0755);
    char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, environ) != 0) {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!CatchesSignal(pid, sig) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, sig);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string RegisterWith(const std::string& name) {
    CCardMap map;
    auto card = MakeCard("000001");
    card->m_strName = name;
    map.SetAt("000001", std::move(card));
    return RegisterBytes(map);
}

TEST(Program, TerminationSignalsRunTheNormalShutDown) {
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        TempDir dir;
        const std::string original = RegisterWith("a");
        WriteFile(dir / "cardbook.kcd", original);
        WriteFile(dir / "set.ini", "[set]\ncom=3\n");
        EXPECT_EQ(RunAndStop(dir, sig, "COM3"), 0) << sig;
        // The register was written (with its backup) and the password added.
        EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), original));
        EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd.old"), original));
        EXPECT_EQ(ReadFile(dir / "set.ini"), "[set]\ncom=3\npass=5820463917\n");
    }
}

TEST(Program, FreshFolder) {
    TempDir dir;
    EXPECT_EQ(RunAndStop(dir, SIGTERM, "COM0"), 0);
    EXPECT_EQ(ListDir(dir.path()),
              (std::vector<std::string>{"COM0", "cardbook.kcd.journal", "cardbook.kcd.lock",
                                        "orvane", "set.ini"}));
    EXPECT_EQ(ReadFile(dir / "set.ini"), "[set]\r\npass=5820463917\r\n");
}

}  // namespace
