// The real program, copied into a temporary folder with its files, started under the
// offscreen platform and ended by SIGTERM, SIGINT or SIGHUP as a service manager, a terminal or
// the end of the desktop session would; killed with SIGKILL after changes that only its
// journal holds; started a second time on a register in use. The changes are made by
// program_driver (the program's start-up and its user-card window, driven as an operator
// does, against the card-reader emulator); a message box of the real program is answered
// with a key press through its VNC server, as an operator at a remote screen would.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "TestUtil.h"
#include "base/CodePage.h"
#include "register/Archive.h"
#include "register/RegisterFile.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
// Only against a hang: the program starts in seconds even under the sanitizers.
constexpr auto kPatience = std::chrono::seconds(120);

int Remaining(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

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

// A process started by the test, killed (SIGKILL) when the test ends before it does. Its
// standard output and error are read through pipes when asked, otherwise shared with the test.
class Child {
public:
    // `env` adds variables ("NAME=value") to the test's environment, replacing those of the
    // same name.
    explicit Child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                   bool captureOut = false, bool captureErr = false) {
        std::vector<std::string> environment;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const std::string& added : env) {
                replaced = replaced || entry.substr(0, entry.find('=') + 1) ==
                                           added.substr(0, added.find('=') + 1);
            }
            if (!replaced) {
                environment.push_back(entry);
            }
        }
        environment.insert(environment.end(), env.begin(), env.end());

        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        int outPipe[2] = {-1, -1};
        int errPipe[2] = {-1, -1};
        if (captureOut && ::pipe2(outPipe, O_CLOEXEC) == 0) {
            ::posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
        }
        if (captureErr && ::pipe2(errPipe, O_CLOEXEC) == 0) {
            ::posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& e : environment) {
            envp.push_back(const_cast<char*>(e.c_str()));
        }
        envp.push_back(nullptr);
        if (::posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) {
            m_pid = -1;
        }
        ::posix_spawn_file_actions_destroy(&actions);
        for (int* p : {outPipe, errPipe}) {
            if (p[1] >= 0) {
                ::close(p[1]);
            }
        }
        m_out = outPipe[0];
        m_err = errPipe[0];
    }

    ~Child() {
        if (Running()) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (const int fd : {m_out, m_err}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return m_pid > 0; }
    void Signal(int sig) const { ::kill(m_pid, sig); }

    // Waits until a line `line` has come on its standard output; false when its output ends
    // first.
    bool WaitForLine(const std::string& line) {
        const auto deadline = Clock::now() + kPatience;
        while (m_outText.find(line + "\n") == std::string::npos) {
            if (!Read(m_out, m_outText, Remaining(deadline))) {
                return false;
            }
        }
        return true;
    }

    // Waits until its standard error holds `text`; false when it ends first.
    bool WaitForError(const std::string& text) {
        const auto deadline = Clock::now() + kPatience;
        while (m_errText.find(text) == std::string::npos) {
            if (!Read(m_err, m_errText, Remaining(deadline))) {
                return false;
            }
        }
        return true;
    }

    // Waits until it has installed its handler for `sig`, which the program does once its
    // start-up is done; false when it ended before.
    bool WaitUntilCatches(int sig) {
        const auto deadline = Clock::now() + kPatience;
        while (!CatchesSignal(m_pid, sig)) {
            if (!Running() || Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // Waits for its end (killing it when it does not come) and returns its exit code, or 128
    // plus the signal that ended it.
    int Wait() {
        auto deadline = Clock::now() + kPatience;
        while (Running()) {
            if (Clock::now() > deadline) {
                ADD_FAILURE() << "process " << m_pid << " did not end";
                ::kill(m_pid, SIGKILL);
                deadline = Clock::time_point::max();
            }
            // Its output is read on, so that a full pipe never holds it up.
            if (!Read(m_err, m_errText, 20) && m_err < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            Read(m_out, m_outText, 0);
        }
        while (Read(m_err, m_errText, 0)) {
        }
        if (WIFEXITED(m_status)) {
            return WEXITSTATUS(m_status);
        }
        return WIFSIGNALED(m_status) ? 128 + WTERMSIG(m_status) : -1;
    }

    // Its standard error so far, when it is read.
    const std::string& errors() const { return m_errText; }

private:
    bool Running() {
        if (m_pid <= 0 || m_ended) {
            return false;
        }
        if (::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
            m_ended = true;
        }
        return !m_ended;
    }

    // Appends what comes on `fd` within `timeoutMs` to `text`; false when nothing came. At
    // the end of the output it closes `fd`, setting it to -1.
    static bool Read(int& fd, std::string& text, int timeoutMs) {
        if (fd < 0) {
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            ::close(fd);
            fd = -1;
            return false;
        }
        text.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t m_pid = -1;
    int m_status = 0;
    bool m_ended = false;
    int m_out = -1;
    int m_err = -1;
    std::string m_outText;
    std::string m_errText;
};

// Copies the program into `dir`, where it then keeps its files, unless it is there already.
std::string InstallProgram(const TempDir& dir) {
    const std::string exe = dir / "orvane";
    if (!FileExists(exe)) {
        WriteFile(exe, ReadFile(ORVANE_EXE));
        ::chmod(exe.c_str(), 0755);
    }
    return exe;
}

// The program's copy in `dir`, started with `env` added to the test's environment.
std::unique_ptr<Child> StartProgram(const TempDir& dir, const std::vector<std::string>& env = {},
                                    bool captureErr = false) {
    return std::make_unique<Child>(std::vector<std::string>{InstallProgram(dir)}, env, false,
                                   captureErr);
}

// Sends `sig` once the program's start-up is done and returns its exit status.
int Stop(Child& program, int sig) {
    EXPECT_TRUE(program.WaitUntilCatches(sig)) << "the program ended during its start-up";
    program.Signal(sig);
    return program.Wait();
}

// Runs the program in `dir` until it can take `sig`, sends it and returns the exit status.
// `port` names the entry through which the program finds its device (a pseudo-terminal).
int RunAndStop(const TempDir& dir, int sig, const std::string& port) {
    PseudoTerminal device;
    ::symlink(device.slave.c_str(), (dir / port).c_str());
    const std::unique_ptr<Child> program = StartProgram(dir);
    return program->started() ? Stop(*program, sig) : -1;
}

// A process holding the lock of the register in `dir`: the program or program_driver.
enum class Holder { Program, LockOnly };

const char* Name(Holder holder) {
    return holder == Holder::Program ? "the program" : "a process holding the lock";
}

// Starts `holder` on `dir` and waits until it holds the lock. The program finds its device
// through `COM0`, which must lead to one.
std::unique_ptr<Child> StartHolder(const TempDir& dir, Holder holder) {
    std::unique_ptr<Child> child;
    if (holder == Holder::Program) {
        child = StartProgram(dir);
        EXPECT_TRUE(child->WaitUntilCatches(SIGTERM));
    } else {
        child =
            std::make_unique<Child>(std::vector<std::string>{PROGRAM_DRIVER, "lock", dir.path()},
                                    std::vector<std::string>{}, true);
        EXPECT_TRUE(child->WaitForLine("READY"));
    }
    return child;
}

// What a folder holds: per name, the kind of entry, its mode, its modification time and its
// content (a link: where it leads).
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> entries;
    for (const std::string& name : ListDir(dir)) {
        const std::string path = dir + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            continue;
        }
        std::ostringstream entry;
        entry << std::oct << st.st_mode << std::dec << ' ' << st.st_mtim.tv_sec << '.'
              << st.st_mtim.tv_nsec << ' ';
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
            entry << "-> " << std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
        } else if (S_ISREG(st.st_mode)) {
            entry << ReadFile(path);
        }
        entries[name] = entry.str();
    }
    return entries;
}

// Equal snapshots; a difference is named by its file, without the contents.
::testing::AssertionResult SameFolder(const std::map<std::string, std::string>& after,
                                      const std::map<std::string, std::string>& before) {
    std::string differ;
    for (const auto& [name, entry] : before) {
        const auto it = after.find(name);
        if (it == after.end()) {
            differ += " " + name + " (gone)";
        } else if (it->second != entry) {
            differ += " " + name + " (changed)";
        }
    }
    for (const auto& [name, entry] : after) {
        if (before.count(name) == 0) {
            differ += " " + name + " (new)";
        }
    }
    if (differ.empty()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the folder changed:" << differ;
}

// A TCP port that nothing listens on now.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

// A viewer of the program's screen through its VNC server (RFB 3.3, no authentication); it
// presses keys as an operator at a remote screen does.
class RemoteScreen {
public:
    // Connects, waiting for the server to listen; false when it does not.
    bool Connect(int port) {
        const auto deadline = Clock::now() + kPatience;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        for (;;) {
            m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                break;
            }
            ::close(m_fd);
            m_fd = -1;
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        // Version, security type "none", the shared session, the server's screen and name.
        std::string version;
        if (!Receive(12, version) || version.rfind("RFB 003.", 0) != 0 || !Send("RFB 003.003\n")) {
            return false;
        }
        std::string security;
        if (!Receive(4, security) || security != std::string("\0\0\0\1", 4) ||
            !Send(std::string(1, '\1'))) {
            return false;
        }
        std::string init;
        if (!Receive(24, init)) {
            return false;
        }
        const auto* n = reinterpret_cast<const unsigned char*>(init.data() + 20);
        const size_t nameLength =
            (size_t{n[0]} << 24) | (size_t{n[1]} << 16) | (size_t{n[2]} << 8) | size_t{n[3]};
        std::string name;
        return Receive(nameLength, name);
    }

    ~RemoteScreen() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }

    // A key pressed and released; `keysym` as X names keys (0xFF0D: Return).
    bool Press(uint32_t keysym) {
        bool sent = true;
        for (const char down : {'\1', '\0'}) {
            std::string event{'\4', down, '\0', '\0'};
            for (int shift = 24; shift >= 0; shift -= 8) {
                event += static_cast<char>((keysym >> shift) & 0xFF);
            }
            sent = sent && Send(event);
        }
        return sent;
    }

private:
    bool Send(const std::string& bytes) const {
        return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    bool Receive(size_t size, std::string& bytes) const {
        const auto deadline = Clock::now() + kPatience;
        bytes.clear();
        while (bytes.size() < size) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, Remaining(deadline)) <= 0) {
                return false;
            }
            char buffer[256];
            const ssize_t n = ::recv(m_fd, buffer, std::min(sizeof buffer, size - bytes.size()), 0);
            if (n <= 0) {
                return false;
            }
            bytes.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }

    int m_fd = -1;
};

constexpr uint32_t kReturnKey = 0xFF0D;

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
              (std::vector<std::string>{"COM0", "cardbook.kcd.history", "cardbook.kcd.journal",
                                        "cardbook.kcd.lock", "orvane", "set.ini"}));
    EXPECT_EQ(ReadFile(dir / "set.ini"), "[set]\r\npass=5820463917\r\n");
}

TEST(Program, CardsSavedAndIssuedBeforeAKillAreThereAtTheNextStart) {
    TempDir dir;
    CardEmulator emulator(CARDEMU, dir / "COM0", dir / "emu.log");
    ASSERT_TRUE(emulator.ready());
    {
        Child driver({PROGRAM_DRIVER, "cards", dir.path(), "000101", "000202"}, {}, true);
        ASSERT_TRUE(driver.WaitForLine("READY")) << "exit status " << driver.Wait();
        driver.Signal(SIGKILL);
        EXPECT_EQ(driver.Wait(), 128 + SIGKILL);
    }
    // The issued card went to the reader; both changes are in the journal alone.
    const std::vector<std::string> frames = EmulatorFrames(dir / "emu.log");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].substr(0, 17), "AA 15 A1 00 02 02");
    ASSERT_FALSE(FileExists(dir / "cardbook.kcd"));
    ASSERT_TRUE(FileExists(dir / "cardbook.kcd.journal"));

    // The next start takes them up; its shut-down writes them to the register.
    const std::unique_ptr<Child> program = StartProgram(dir);
    EXPECT_EQ(Stop(*program, SIGTERM), 0);
    ASSERT_TRUE(FileExists(dir / "cardbook.kcd")) << "no register written at exit";
    CCardMap map;
    ASSERT_TRUE(LoadsWhole(dir / "cardbook.kcd", map));
    EXPECT_EQ(map.GetCount(), 2u);
    struct Expected {
        const char* cardNo;
        int32_t number;
        uint8_t status;
        const char* name;
    };
    const Expected cards[] = {
        {"000101", 1, CARD_NOT_ISSUED, "张三"},
        {"000202", 2, CARD_ISSUED, "李四"},
    };
    for (const Expected& e : cards) {
        const CCard* card = map.Lookup(e.cardNo);
        ASSERT_NE(card, nullptr) << e.cardNo;
        EXPECT_EQ(card->m_nNumber, e.number) << e.cardNo;
        EXPECT_EQ(card->m_nStatus, e.status) << e.cardNo;
        EXPECT_EQ(card->m_strName.view(), Utf8ToCodePage(e.name)) << e.cardNo;
        EXPECT_EQ(card->m_strPassword.view(), "5820463917") << e.cardNo;
    }
}

TEST(Program, SecondStartOnARegisterInUseSaysSoAndWritesNothing) {
    // The Qt VNC plugin keeps allocations for the life of the process.
    TempDir suppressions;
    WriteFile(suppressions / "lsan.supp", ReadFile(LSAN_SUPPRESSIONS) + "leak:libqvnc.so\n");
    for (const Holder holder : {Holder::Program, Holder::LockOnly}) {
        SCOPED_TRACE(Name(holder));
        TempDir dir;
        PseudoTerminal device;
        ::symlink(device.slave.c_str(), (dir / "COM0").c_str());
        WriteFile(dir / "cardbook.kcd", RegisterWith("a"));
        WriteFile(dir / "set.ini", "[set]\r\ncom=0\r\npass=1234567890\r\n");
        InstallProgram(dir);
        const std::unique_ptr<Child> first = StartHolder(dir, holder);
        const auto before = Snapshot(dir.path());

        const int port = FreePort();
        const std::unique_ptr<Child> second = StartProgram(
            dir,
            {"QT_QPA_PLATFORM=vnc:size=1024x768:port=" + std::to_string(port),
             "LSAN_OPTIONS=suppressions=" + (suppressions / "lsan.supp") + ":print_suppressions=0"},
            true);
        ASSERT_TRUE(second->started());
        ASSERT_TRUE(second->WaitForError("卡片登记正在被另一个程序使用,不能同时打开。\n" +
                                         (dir / "cardbook.kcd") + "\n"))
            << second->errors();
        // The box waits for the operator; its OK ends the program.
        RemoteScreen screen;
        ASSERT_TRUE(screen.Connect(port));
        ASSERT_TRUE(screen.Press(kReturnKey));
        EXPECT_EQ(second->Wait(), 0) << second->errors();
        EXPECT_TRUE(SameFolder(Snapshot(dir.path()), before));

        if (holder == Holder::Program) {
            EXPECT_EQ(Stop(*first, SIGTERM), 0);
        }
    }
}

TEST(Program, AKilledHolderOfTheLockDoesNotBlockTheNextStart) {
    for (const Holder holder : {Holder::Program, Holder::LockOnly}) {
        SCOPED_TRACE(Name(holder));
        TempDir dir;
        PseudoTerminal device;
        ::symlink(device.slave.c_str(), (dir / "COM0").c_str());
        const std::string original = RegisterWith("a");
        WriteFile(dir / "cardbook.kcd", original);
        {
            const std::unique_ptr<Child> first = StartHolder(dir, holder);
            first->Signal(SIGKILL);
            EXPECT_EQ(first->Wait(), 128 + SIGKILL);
        }
        ASSERT_TRUE(FileExists(dir / "cardbook.kcd.lock"));
        const std::unique_ptr<Child> next = StartProgram(dir);
        EXPECT_EQ(Stop(*next, SIGTERM), 0);
        // It ran its shut-down: the register written with its backup, the password added.
        EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd"), original));
        EXPECT_TRUE(SameBytes(ReadFile(dir / "cardbook.kcd.old"), original));
        EXPECT_EQ(ReadFile(dir / "set.ini"), "[set]\r\npass=5820463917\r\n");
    }
}

}  // namespace
