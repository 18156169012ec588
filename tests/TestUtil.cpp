#include "TestUtil.h"

#include "base/PosixIo.h"
#include "register/Archive.h"
#include "register/RegisterFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

TempDir::TempDir() {
    char name[] = "/tmp/orvane-test-XXXXXX";
    if (::mkdtemp(name) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = std::string(name) + "/";
}

TempDir::~TempDir() {
    const std::string command =
        "chmod -R u+rwx '" + m_path + "' 2>/dev/null; rm -rf '" + m_path + "'";
    [[maybe_unused]] const int rc = std::system(command.c_str());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string FromHex(const std::string& hex) {
    std::string out;
    std::string digits;
    for (char c : hex) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
            if (digits.size() == 2) {
                out += static_cast<char>(std::stoi(digits, nullptr, 16));
                digits.clear();
            }
        }
    }
    return out;
}

std::unique_ptr<CCard> MakeCard(const std::string& cardNo, int32_t number) {
    auto card = std::make_unique<CCard>();
    card->m_strCardNo = cardNo;
    card->m_nNumber = number;
    return card;
}

namespace {

void DrainInto(int fd, std::string& sink) {
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        sink.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace

ProcessResult RunProgram(const std::vector<std::string>& argv) {
    ProcessResult result;
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (rc == 0) {
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        int open = 2;
        while (open > 0 && ::poll(fds, 2, -1) > 0) {
            for (pollfd& p : fds) {
                if (p.fd >= 0 && (p.revents & (POLLIN | POLLHUP))) {
                    const size_t before = (p.fd == outPipe[0] ? result.out : result.err).size();
                    DrainInto(p.fd, p.fd == outPipe[0] ? result.out : result.err);
                    if ((p.fd == outPipe[0] ? result.out : result.err).size() == before) {
                        p.fd = -1;
                        --open;
                    }
                }
            }
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    return result;
}

PseudoTerminal::PseudoTerminal() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) {
        ::fcntl(master, F_SETFL, O_NONBLOCK);  // a device that never blocks the test
        slave = ::ptsname(master);
    }
}

PseudoTerminal::~PseudoTerminal() {
    if (master >= 0) {
        ::close(master);
    }
}

void PseudoTerminal::Send(const std::vector<uint8_t>& bytes) const {
    ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

std::string PseudoTerminal::Received() const {
    std::string all;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(master, buffer, sizeof buffer)) > 0) {
        all.append(buffer, static_cast<size_t>(n));
    }
    return all;
}

namespace {

constexpr int kAnswerTimeoutMs = 5000;

}  // namespace

CardEmulator::CardEmulator(const std::string& exe, const std::string& link,
                           const std::string& logPath) {
    // Control lines go through a socket: a send to an emulator that is gone fails instead of
    // raising SIGPIPE in the test.
    int control[2];
    int out[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, control) != 0) {
        return;
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(control[0]);
        ::close(control[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, control[1], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::string program = exe;
    std::string linkArg = link;
    char* argv[] = {program.data(), linkArg.data(), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(control[1]);
    ::close(out[1]);
    if (rc != 0) {
        ::close(control[0]);
        ::close(out[0]);
        return;
    }
    m_pid = pid;
    m_control = control[0];
    m_answers = out[0];
    m_ready = ReadAnswer() == "ready";
}

CardEmulator::~CardEmulator() {
    if (m_control >= 0) {
        // Its "ok" is not awaited: the emulator may find the answer pipe closed, which it bears.
        const std::string quit = "quit\n";
        [[maybe_unused]] const ssize_t n =
            ::send(m_control, quit.data(), quit.size(), MSG_NOSIGNAL);
        ::close(m_control);
    }
    if (m_answers >= 0) {
        ::close(m_answers);
    }
    if (m_pid <= 0) {
        return;
    }
    int status = 0;
    for (int waited = 0; waited < kAnswerTimeoutMs; waited += 10) {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            return;
        }
        ::usleep(10 * 1000);
    }
    ::kill(m_pid, SIGKILL);  // it did not end: do not hang the test on it
    ::waitpid(m_pid, &status, 0);
}

std::string CardEmulator::ReadAnswer() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
    while (m_answers >= 0) {
        const size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            const std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd{m_answers, POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&fd, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        char buffer[256];
        const ssize_t n = ready > 0 ? ::read(m_answers, buffer, sizeof buffer) : 0;
        if (n <= 0) {
            // Silent or gone: later answers could no longer be told apart, so stop listening.
            ::close(m_answers);
            m_answers = -1;
            break;
        }
        m_pending.append(buffer, static_cast<size_t>(n));
    }
    return std::string();
}

bool CardEmulator::Control(const std::string& line) {
    m_lastAnswer.clear();
    const std::string text = line + "\n";
    if (m_control < 0 || ::send(m_control, text.data(), text.size(), MSG_NOSIGNAL) !=
                             static_cast<ssize_t>(text.size())) {
        return false;
    }
    m_lastAnswer = ReadAnswer();
    return m_lastAnswer == "ok";
}

namespace {
int g_failingClose = -1;
}  // namespace

void FailNextCloseOf(int fd) {
    g_failingClose = fd;
    Io().close = [](int closing) {
        const int result = ::close(closing);
        if (closing == g_failingClose) {
            g_failingClose = -1;
            errno = EIO;
            return -1;
        }
        return result;
    };
}

int RunAsNobody(const std::function<int()>& body, const std::function<int()>& asRoot) {
    const pid_t pid = ::fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        const int prepared = asRoot ? asRoot() : 0;
        if (prepared != 0) {
            ::_exit(prepared);
        }
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(kCannotSwitchUser);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string RegisterBytes(const CCardMap& map) {
    std::string out;
    CArchive ar(&out);
    WriteRegister(ar, map);
    return out;
}

std::string OneCardFile() {
    return FromHex(
        "01 00 06 30 30 30 30 30 31 FF FF 01 00 05 00 43"
        "43 61 72 64 01 00 00 00 00 06 30 30 30 30 30 31"
        "00 08 30 30 30 30 30 30 30 30 00 08 30 30 30 30"
        "30 30 30 30 00 00 00 00 00 00 10 30 30 30 30 30"
        "30 30 30 30 30 30 30 30 30 30 30 10 30 30 30 30"
        "30 30 30 30 30 30 30 30 30 30 30 30 00 00 00 00");
}

::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    char detail[160];
    std::snprintf(detail, sizeof detail, "differ at offset %zu (sizes %zu and %zu)", at,
                  actual.size(), expected.size());
    return ::testing::AssertionFailure() << detail;
}

void RecordingSink::Deliver(const uint8_t* bytes, uint32_t count) {
    if (m_bGiveGoAhead) {
        m_goAhead.Set();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bursts.emplace_back(bytes, bytes + count);
    m_cv.notify_all();
}

void RecordingSink::WaitGoAhead() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nGoAheadWaits;
        m_cv.notify_all();
        if (m_bCancelled) {
            return;
        }
    }
    m_goAhead.Wait();
}

void RecordingSink::Cancel() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bCancelled = true;
        ++m_nCancels;
        m_cv.notify_all();
    }
    m_goAhead.Set();
}

bool RecordingSink::WaitFor(size_t n, std::chrono::milliseconds deadline) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, deadline, [&] { return m_bursts.size() >= n; });
}

bool RecordingSink::WaitForGoAheadWait(size_t n) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::seconds(10), [&] { return m_nGoAheadWaits >= n; });
}

size_t RecordingSink::Count() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bursts.size();
}

std::string RecordingSink::At(size_t i) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bursts.at(i);
}

size_t RecordingSink::Cancels() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nCancels;
}

std::vector<std::string> EmulatorFrames(const std::string& logPath) {
    std::vector<std::string> frames;
    std::istringstream log(ReadFile(logPath));
    std::string line;
    const std::string tag = "cardemu: received ";
    while (std::getline(log, line)) {
        if (line.rfind(tag, 0) == 0) {
            std::string hex = line.substr(tag.size());
            while (!hex.empty() && hex.back() == ' ') {
                hex.pop_back();
            }
            frames.push_back(hex);
        }
    }
    return frames;
}

::testing::AssertionResult LoadsWhole(const std::string& path, CCardMap& map, uint32_t* maxNumber) {
    uint32_t highest = 0;
    std::string error;
    if (LoadRegisterFile(path, map, highest, error) != RegisterLoad::Loaded) {
        return ::testing::AssertionFailure() << path << ": " << error;
    }
    if (maxNumber != nullptr) {
        *maxNumber = highest;
    }
    return ::testing::AssertionSuccess();
}
