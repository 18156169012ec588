#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/AutoResetEvent.h"
#include "register/Card.h"
#include "serial/ReplySink.h"

// A fresh folder under /tmp, removed with its content at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // The folder, ending in '/'.
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + name; }

private:
    std::string m_path;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
bool FileExists(const std::string& path);
// The names in a folder, sorted.
std::vector<std::string> ListDir(const std::string& dir);

// "01 00 FF" -> bytes; blanks and newlines ignored.
std::string FromHex(const std::string& hex);

// A card with the given number and serial number, other fields default.
std::unique_ptr<CCard> MakeCard(const std::string& cardNo, int32_t number = 1);

// Runs a program, waits for it and returns its exit status (or -1); its output is captured.
struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
ProcessResult RunProgram(const std::vector<std::string>& argv);

class CCardMap;
// The register file of `map`, as the program writes it.
std::string RegisterBytes(const CCardMap& map);

// A pseudo-terminal pair: the test plays the device on the (non-blocking) master side, the
// program opens the slave side.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    void Send(const std::vector<uint8_t>& bytes) const;
    // What has arrived from the program so far.
    std::string Received() const;
    int master = -1;
    std::string slave;
};

// A reply sink of the port's own tests: records every burst that the reader thread hands over
// and, unless told otherwise, gives the go-ahead at once, as the program's hand-off does when
// a window takes the reply. Waits have a deadline only against a hang.
class RecordingSink : public CReplySink {
public:
    explicit RecordingSink(bool giveGoAhead = true) : m_bGiveGoAhead(giveGoAhead) {}

    void Deliver(const uint8_t* bytes, uint32_t count) override;
    void WaitGoAhead() override;
    void Cancel() override;

    // The go-ahead, as every sender gives it before it writes.
    void GiveGoAhead() { m_goAhead.Set(); }
    // Waits until `n` bursts have come.
    bool WaitFor(size_t n, std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // Waits until the reader has come to WaitGoAhead for the `n`-th time.
    bool WaitForGoAheadWait(size_t n);
    size_t Count();
    // The i-th burst's bytes.
    std::string At(size_t i);
    size_t Cancels();

private:
    const bool m_bGiveGoAhead;
    CAutoResetEvent m_goAhead;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::string> m_bursts;
    size_t m_nGoAheadWaits = 0;
    size_t m_nCancels = 0;
    bool m_bCancelled = false;
};

// The card-reader emulator as a child process, linked as `link`; its log (every frame it
// receives, in hexadecimal) goes to `logPath`, or nowhere. No call waits on it for more than a
// few seconds, and the destructor ends it, killing it when it does not quit.
class CardEmulator {
public:
    CardEmulator(const std::string& exe, const std::string& link,
                 const std::string& logPath = "/dev/null");
    ~CardEmulator();
    CardEmulator(const CardEmulator&) = delete;
    CardEmulator& operator=(const CardEmulator&) = delete;
    // Sends a control line and waits until the emulator has carried it out; true when it
    // answered "ok", false when it refused the line or did not answer in time (after which
    // every call returns false).
    bool Control(const std::string& line);
    // The emulator's answer to the last Control(): "ok", "error: ..." or, when none came,
    // empty.
    const std::string& lastAnswer() const { return m_lastAnswer; }
    bool ready() const { return m_ready; }

private:
    // The next line on the emulator's standard output, empty when none comes in time.
    std::string ReadAnswer();

    int m_pid = -1;
    int m_control = -1;
    int m_answers = -1;
    std::string m_pending;  // read from the emulator, not yet a whole line
    std::string m_lastAnswer;
    bool m_ready = false;
};

// The frames that the emulator logged as received, in hexadecimal ("AA 07 A2 ..."), in order.
std::vector<std::string> EmulatorFrames(const std::string& logPath);

// Runs `body` in a child process as user "nobody" (root bypasses permissions and limits),
// after `asRoot` there; returns the child's exit code, kCannotSwitchUser when the switch is
// refused, -1 when the child did not exit normally.
constexpr int kCannotSwitchUser = 99;
int RunAsNobody(const std::function<int()>& body, const std::function<int()>& asRoot = nullptr);

// Makes the next close of `fd` through Io() close it and then fail with EIO, as a failing
// adapter reports; the caller holds a ScopedIoOverride that puts the table back.
void FailNextCloseOf(int fd);

// The 96-byte register file of the single default card "000001".
std::string OneCardFile();

#include <gtest/gtest.h>

// Loads the register file at `path` into the empty `map` (and its highest serial number into
// `maxNumber`); a failure names what the reader found wrong.
::testing::AssertionResult LoadsWhole(const std::string& path, CCardMap& map,
                                      uint32_t* maxNumber = nullptr);

// Equal byte strings; on a difference it names the first differing offset and the sizes
// instead of printing both strings.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected);
