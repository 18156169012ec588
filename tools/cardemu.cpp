// The card reader/writer played on a pseudo-terminal, for running and testing the program
// without hardware.
//
//   cardemu LINK [--password 10DIGITS] [--split MS | --silent]
//
// LINK (for instance build/bin/COM0) becomes a symbolic link to the pseudo-terminal. The
// emulator holds one card: blank at start, a user card after an issue command, a management
// card after a setting. Every frame received is logged in hexadecimal on standard error.
// Refused with a failure reply: any command but "set password", "read settings" and "clear"
// whose password is not the system password; every card command while no card is placed;
// extending a card that is not a user card. Reading a user card that is not there answers
// with the time-out reply. With --split every reply comes in two pieces, MS milliseconds
// apart (as a USB adapter may hand it over); with --silent no reply comes at all.
//
// Control lines on standard input, one at a time:
//   place blank | place user CARDNO YYMMDD RIGHTS16 | remove | status | quit
//   fault silent | fault fail | fault split [MS] | fault garbage | fault long   (the next reply)
//   fault reply HEX...   (the next reply is exactly these bytes, for instance AA 03 A1 02 55)
//   mode normal | mode silent | mode split MS   (every reply from now on, as the options)
// CARDNO and YYMMDD are 6 decimal digits, RIGHTS16 is 16 characters '0' or '1' (door 16
// first); "fault reply" takes one or more bytes of two hexadecimal digits each; MS is 0 ...
// 60000 (a split reply's pieces 200 ms apart unless given).
//
// Standard output carries "ready" once the link is in place, then one line for every control
// line, written once the line has been carried out (a frame that arrives afterwards sees its
// effect):
//   ok                 the line was taken ("quit" too, just before the emulator ends)
//   error: REASON      the line was refused and changed nothing
// A blank line is taken and does nothing. The card state after each taken line, refused lines
// and received frames are logged on standard error. Nobody has to read standard output: when
// it is closed or full, the answers are dropped and the emulator carries on.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/Frame.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum class CardKind { None, Blank, User, Manage };
enum class Fault { None, Silent, Fail, Split, Garbage, Long, Reply };
// How every reply goes out when no fault is armed.
enum class Mode { Normal, Silent, Split };

constexpr int kSplitDelayMs = 200;

struct Emulator {
    std::string password = "5820463917";
    CardKind kind = CardKind::Blank;
    uint8_t cardNo[3] = {};
    uint8_t valid[3] = {};
    uint8_t rights[8] = {};
    uint8_t setting = 0;  // management card: the sub-code, 0 for none
    Bytes settingData;
    Fault fault = Fault::None;
    Bytes faultReply;                  // with Fault::Reply
    int faultSplitMs = kSplitDelayMs;  // with Fault::Split
    Mode mode = Mode::Normal;
    int modeSplitMs = kSplitDelayMs;  // with Mode::Split
};

std::string Hex(const Bytes& bytes) {
    std::string out;
    char b[4];
    for (uint8_t c : bytes) {
        std::snprintf(b, sizeof b, "%02X ", c);
        out += b;
    }
    return out;
}

Bytes Short(uint8_t command, uint8_t result) {
    return {FRAME_HEAD, 3, command, result, FRAME_TAIL};
}

Bytes Reply(uint8_t command, const Bytes& payload) {
    Bytes frame{FRAME_HEAD, static_cast<uint8_t>(payload.size() + 2), command};
    for (const uint8_t b : payload) {
        frame.push_back(b);
    }
    frame.push_back(FRAME_TAIL);
    return frame;
}

bool PasswordIs(const Emulator& emu, const uint8_t* bytes) {
    return DecodeDigits(bytes, 5) == emu.password;
}

// The device's answer to one well-formed frame.
Bytes Answer(Emulator& emu, const Bytes& f) {
    const uint8_t command = f[2];
    const uint8_t* p = f.data() + 3;
    const size_t payload = f.size() - 4;
    const bool placed = emu.kind != CardKind::None;
    switch (command) {
        case CMD_ISSUE_CARD:
            if (payload < 19 || !placed || !PasswordIs(emu, p + 6)) {
                return Short(command, RESULT_FAIL);
            }
            emu.kind = CardKind::User;
            std::memcpy(emu.cardNo, p, 3);
            std::memcpy(emu.valid, p + 3, 3);
            std::memcpy(emu.rights, p + 11, 8);
            return Short(command, RESULT_OK);
        case CMD_READ_CARD: {
            if (payload < 5 || emu.kind != CardKind::User || !PasswordIs(emu, p)) {
                return Short(command, RESULT_FAIL);
            }
            Bytes data;
            for (const uint8_t b : emu.cardNo) {
                data.push_back(b);
            }
            for (const uint8_t b : emu.valid) {
                data.push_back(b);
            }
            for (const uint8_t b : emu.rights) {
                data.push_back(b);
            }
            return Reply(command, data);
        }
        case CMD_EXTEND:
            if (payload < 8 || emu.kind != CardKind::User || !PasswordIs(emu, p + 3)) {
                return Short(command, RESULT_FAIL);
            }
            std::memcpy(emu.valid, p, 3);
            return Short(command, RESULT_OK);
        case CMD_SET_TIME:
        case CMD_REPORT_LOST:
        case CMD_UNLOCK: {
            const size_t dataSize = command == CMD_SET_TIME ? 5 : 3;
            if (payload < dataSize + 5 || !placed || !PasswordIs(emu, p + dataSize)) {
                return Short(command, RESULT_FAIL);
            }
            emu.kind = CardKind::Manage;
            emu.setting = command;
            emu.settingData.assign(p, p + dataSize);
            return Short(command, RESULT_OK);
        }
        case CMD_SET_PASSWORD:
            if (payload < 5 || !placed) {
                return Short(command, RESULT_FAIL);
            }
            emu.kind = CardKind::Manage;
            emu.setting = command;
            emu.settingData.assign(p, p + 5);
            return Short(command, RESULT_OK);
        case CMD_READ_SETTINGS: {
            if (emu.kind != CardKind::Manage || emu.setting == 0) {
                return Short(command, RESULT_FAIL);
            }
            Bytes data{emu.setting};
            data.insert(data.end(), emu.settingData.begin(), emu.settingData.end());
            return Reply(command, data);
        }
        case CMD_CLEAR_SETTINGS:
            if (!placed) {
                return Short(command, RESULT_FAIL);
            }
            emu.kind = CardKind::Manage;
            emu.setting = 0;
            emu.settingData.clear();
            return Short(command, RESULT_OK);
        default:
            return {};  // not a command of this device: no answer
    }
}

void Send(int fd, const Bytes& bytes) {
    if (!bytes.empty() && ::write(fd, bytes.data(), bytes.size()) < 0) {
        std::perror("cardemu: write");
    }
}

// The first half of the bytes, then after `delayMs` the rest. The pause leaves the line's
// queue empty between the pieces, so that the reader takes the first on its own (200 ms by
// default: time enough for a busy machine).
void SendInTwo(int fd, const Bytes& answer, int delayMs) {
    const size_t half = answer.size() / 2;
    Send(fd, Bytes(answer.begin(), answer.begin() + static_cast<long>(half)));
    ::usleep(static_cast<useconds_t>(delayMs) * 1000);
    Send(fd, Bytes(answer.begin() + static_cast<long>(half), answer.end()));
}

// Sends the answer, changed by the fault that is armed, otherwise as the mode says.
void Respond(Emulator& emu, int fd, Bytes answer) {
    const Fault fault = emu.fault;
    emu.fault = Fault::None;
    switch (fault) {
        case Fault::Silent:
            return;
        case Fault::Fail:
            Send(fd, Short(answer.size() > 2 ? answer[2] : 0, RESULT_FAIL));
            return;
        case Fault::Split:
            SendInTwo(fd, answer, emu.faultSplitMs);
            return;
        case Fault::Garbage:
            Send(fd, {0x13, 0x37, 0xAA, 0x00, 0xFF});
            return;
        case Fault::Long: {
            Bytes longReply = answer;
            longReply.resize(150, 0x5A);
            Send(fd, longReply);
            return;
        }
        case Fault::Reply:
            Send(fd, emu.faultReply);
            return;
        case Fault::None:
            break;
    }
    switch (emu.mode) {
        case Mode::Silent:
            return;
        case Mode::Split:
            SendInTwo(fd, answer, emu.modeSplitMs);
            return;
        case Mode::Normal:
            Send(fd, answer);
            return;
    }
}

// A delay in milliseconds, 0 ... 60000, written in decimal digits.
bool ParseDelay(const std::string& text, int& ms) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    ms = std::stoi(text);
    return ms <= 60000;
}

bool ParseHexDigits(const std::string& text, size_t digits, uint8_t* out) {
    if (text.size() != digits) {
        return false;
    }
    for (size_t i = 0; i < digits; i += 2) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])) ||
            !std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
            return false;
        }
        out[i / 2] = BcdPair(text[i], text[i + 1]);
    }
    return true;
}

// One byte written as exactly two hexadecimal digits.
bool ParseHexByte(const std::string& text, uint8_t& out) {
    if (text.size() != 2 || !std::isxdigit(static_cast<unsigned char>(text[0])) ||
        !std::isxdigit(static_cast<unsigned char>(text[1]))) {
        return false;
    }
    out = static_cast<uint8_t>(std::stoul(text, nullptr, 16));
    return true;
}

// The device with a new blank card placed: its password and reply mode stay, any fault armed
// goes.
Emulator NewCard(const Emulator& device) {
    Emulator card;
    card.password = device.password;
    card.mode = device.mode;
    card.modeSplitMs = device.modeSplitMs;
    return card;
}

// Carries out one control line. Returns why it is refused, or an empty text when it is
// taken; a refused line changes nothing.
std::string Control(Emulator& emu, const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    const std::string verb = words.empty() ? std::string() : words[0];
    const std::string what = words.size() > 1 ? words[1] : std::string();
    if (verb.empty()) {
        // A blank line: nothing to do.
    } else if (verb == "status" || verb == "remove") {
        if (words.size() != 1) {
            return verb + " takes no argument";
        }
        if (verb == "remove") {
            emu.kind = CardKind::None;
        }
    } else if (verb == "place" && what == "blank" && words.size() == 2) {
        emu = NewCard(emu);
    } else if (verb == "place" && what == "user" && words.size() == 5) {
        const std::string& rights = words[4];
        Emulator card = NewCard(emu);
        card.kind = CardKind::User;
        if (!ParseHexDigits(words[2], 6, card.cardNo) || !ParseHexDigits(words[3], 6, card.valid) ||
            rights.size() != 16 || rights.find_first_not_of("01") != std::string::npos) {
            return "place user CARDNO YYMMDD RIGHTS16 (6 digits, 6 digits, 16 of 0 and 1)";
        }
        PackRights(rights, card.rights);
        emu = card;
    } else if (verb == "place") {
        return "place blank | place user CARDNO YYMMDD RIGHTS16";
    } else if (verb == "fault" && what == "reply") {
        Bytes reply;
        for (size_t i = 2; i < words.size(); ++i) {
            uint8_t byte = 0;
            if (!ParseHexByte(words[i], byte)) {
                return "fault reply HEX... (bytes of two hexadecimal digits): " + words[i];
            }
            reply.push_back(byte);
        }
        if (reply.empty()) {
            return "fault reply HEX... (at least one byte)";
        }
        emu.faultReply = reply;
        emu.fault = Fault::Reply;
    } else if (verb == "fault" && what == "split" && words.size() <= 3) {
        int ms = kSplitDelayMs;
        if (words.size() == 3 && !ParseDelay(words[2], ms)) {
            return "fault split [MS] (a delay of 0 ... 60000 ms): " + words[2];
        }
        emu.fault = Fault::Split;
        emu.faultSplitMs = ms;
    } else if (verb == "mode") {
        int ms = kSplitDelayMs;
        if (what == "normal" && words.size() == 2) {
            emu.mode = Mode::Normal;
        } else if (what == "silent" && words.size() == 2) {
            emu.mode = Mode::Silent;
        } else if (what == "split" && words.size() == 3 && ParseDelay(words[2], ms)) {
            emu.mode = Mode::Split;
            emu.modeSplitMs = ms;
        } else {
            return "mode normal | mode silent | mode split MS (0 ... 60000)";
        }
    } else if (verb == "fault") {
        const std::pair<const char*, Fault> faults[] = {{"silent", Fault::Silent},
                                                        {"fail", Fault::Fail},
                                                        {"split", Fault::Split},
                                                        {"garbage", Fault::Garbage},
                                                        {"long", Fault::Long}};
        Fault chosen = Fault::None;
        for (const auto& [name, fault] : faults) {
            if (what == name) {
                chosen = fault;
            }
        }
        if (chosen == Fault::None || words.size() != 2) {
            return "fault silent|fail|split|garbage|long | fault reply HEX...";
        }
        emu.fault = chosen;
    } else {
        return "unknown control line";
    }
    const char* kinds[] = {"none", "blank", "user", "management"};
    std::cerr << "cardemu: card " << kinds[static_cast<int>(emu.kind)] << "\n";
    return std::string();
}

// Writes one line on standard output at once, for whoever drives the emulator. Nobody may be
// reading: a pipe that is full drops the line instead of blocking the device, and one whose
// reader is gone only fails the write (SIGPIPE is ignored), after which nothing more is sent.
void Say(const std::string& line) {
    static bool gone = false;
    if (gone) {
        return;
    }
    pollfd out{1, POLLOUT, 0};
    if (::poll(&out, 1, 0) != 1 || (out.revents & POLLOUT) == 0) {
        if (out.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            gone = true;
        }
        return;
    }
    const std::string text = line + "\n";
    if (::write(1, text.data(), text.size()) < 0 && errno != EAGAIN && errno != EINTR) {
        gone = true;
    }
}

// Standard input, output and error closed by the caller are opened on /dev/null, so that the
// pseudo-terminal never takes one of their numbers and receives the control answers.
void KeepStandardFiles() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && ::open("/dev/null", O_RDWR) != fd) {
            std::_Exit(1);
        }
    }
}

constexpr const char* kUsage =
    "usage: cardemu LINK [--password 10DIGITS] [--split MS | --silent]\n";

constexpr const char* kHelp =
    "usage: cardemu LINK [--password 10DIGITS] [--split MS | --silent]\n"
    "\n"
    "The card-reader emulator: creates a pseudo-terminal, links it as LINK (for instance\n"
    "COM0 in the program's folder) and answers every command like a reader/writer holding one\n"
    "card: blank at start, a user card once issued, a management card once a setting is\n"
    "written. It checks the system password (5820463917 unless --password gives another).\n"
    "Every frame received is logged in hexadecimal on standard error.\n"
    "\n"
    "  --split MS                           every reply in two pieces, MS milliseconds apart\n"
    "  --silent                             no reply at all\n"
    "\n"
    "Control lines on standard input, one at a time:\n"
    "  place blank                          a blank card\n"
    "  place user CARDNO YYMMDD RIGHTS16    a user card\n"
    "  remove                               no card\n"
    "  status                               log the card state\n"
    "  fault silent|fail|split|garbage|long the next reply goes wrong this way\n"
    "  fault split MS                       the next reply in two pieces, MS ms apart\n"
    "  fault reply HEX...                   the next reply is exactly these bytes\n"
    "  mode normal|silent|split MS          every reply from now on (as the options)\n"
    "  quit                                 end\n"
    "CARDNO and YYMMDD are 6 digits, RIGHTS16 16 characters '0' or '1' (door 16 first).\n"
    "Standard output carries \"ready\" once LINK is in place, then \"ok\" or\n"
    "\"error: REASON\" for every control line; the card state after each taken line is\n"
    "logged on standard error.\n"
    "\n"
    "  -h, --help                           this help\n";

}  // namespace

int main(int argc, char* argv[]) {
    KeepStandardFiles();
    ::signal(SIGPIPE, SIG_IGN);
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::cout << kHelp;
        return 0;
    }
    if (argc < 2) {
        std::cerr << kUsage;
        return 2;
    }
    Emulator emu;
    const std::string link = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--password" && hasValue) {
            emu.password = argv[++i];
        } else if (option == "--split" && hasValue && ParseDelay(argv[i + 1], emu.modeSplitMs)) {
            emu.mode = Mode::Split;
            ++i;
        } else if (option == "--silent") {
            emu.mode = Mode::Silent;
        } else {
            std::cerr << "cardemu: unknown option or value: " << option << "\n" << kUsage;
            return 2;
        }
    }
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("cardemu: pseudo-terminal");
        return 1;
    }
    termios t{};
    ::tcgetattr(master, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master, TCSANOW, &t);
    const std::string slave = ::ptsname(master);
    // Keep the slave open ourselves, so that the line does not hang up between users.
    const int keep = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::unlink(link.c_str());
    if (::symlink(slave.c_str(), link.c_str()) != 0) {
        std::perror("cardemu: link");
        return 1;
    }
    std::cerr << "cardemu: " << link << " -> " << slave << "\n";
    Say("ready");

    Bytes input;
    std::string controlLine;
    bool stdinOpen = true;
    for (;;) {
        pollfd fds[2] = {{master, POLLIN, 0}, {0, POLLIN, 0}};
        if (::poll(fds, stdinOpen ? 2 : 1, -1) < 0) {
            continue;
        }
        if (stdinOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
            char c;
            const ssize_t n = ::read(0, &c, 1);
            if (n <= 0) {
                stdinOpen = false;
            } else if (c == '\n') {
                if (!controlLine.empty() && controlLine.back() == '\r') {
                    controlLine.pop_back();
                }
                if (controlLine == "quit") {
                    Say("ok");
                    break;
                }
                const std::string refusal = Control(emu, controlLine);
                if (!refusal.empty()) {
                    std::cerr << "cardemu: refused control line: " << controlLine << "\n";
                }
                Say(refusal.empty() ? "ok" : "error: " + refusal);
                controlLine.clear();
            } else {
                controlLine += c;
            }
        }
        if (fds[0].revents & POLLIN) {
            uint8_t buffer[256];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                input.insert(input.end(), buffer, buffer + n);
            }
        }
        // Take every complete frame; resynchronise on the next AA after a bad one.
        while (!input.empty()) {
            if (input[0] != FRAME_HEAD) {
                input.erase(input.begin());
                continue;
            }
            if (input.size() < 2 || input.size() < static_cast<size_t>(input[1]) + 2) {
                break;
            }
            const size_t size = static_cast<size_t>(input[1]) + 2;
            const Bytes frame(input.begin(), input.begin() + static_cast<long>(size));
            if (size < 4 || frame.back() != FRAME_TAIL) {
                input.erase(input.begin());
                continue;
            }
            input.erase(input.begin(), input.begin() + static_cast<long>(size));
            std::cerr << "cardemu: received " << Hex(frame) << "\n";
            Respond(emu, master, Answer(emu, frame));
        }
    }
    ::unlink(link.c_str());
    ::close(keep);
    return 0;
}
