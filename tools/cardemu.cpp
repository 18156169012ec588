// The card reader/writer played on a pseudo-terminal, for running and testing the program
// without hardware.
//
//   cardemu LINK [--password 10DIGITS]
//
// LINK (for instance build/bin/COM0) becomes a symbolic link to the pseudo-terminal. The
// emulator holds one card: blank at start, a user card after an issue command, a management
// card after a setting. Every frame received is logged in hexadecimal on standard error.
// Refused with a failure reply: any command but "set password", "read settings" and "clear"
// whose password is not the system password; every card command while no card is placed;
// extending a card that is not a user card. Reading a user card that is not there answers
// with the time-out reply.
//
// Control lines on standard input:
//   place blank | place user CARDNO YYMMDD RIGHTS16 | remove | status
//   fault silent | fault fail | fault split | fault garbage | fault long   (for the next reply)
//   fault reply HEX...   (the next reply is exactly these bytes, for instance AA 03 A1 02 55)

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
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

struct Emulator {
    std::string password = "5820463917";
    CardKind kind = CardKind::Blank;
    uint8_t cardNo[3] = {};
    uint8_t valid[3] = {};
    uint8_t rights[8] = {};
    uint8_t setting = 0;  // management card: the sub-code, 0 for none
    Bytes settingData;
    Fault fault = Fault::None;
    Bytes faultReply;  // with Fault::Reply
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

// Sends the answer, changed by the fault that is armed.
void Respond(Emulator& emu, int fd, Bytes answer) {
    const Fault fault = emu.fault;
    emu.fault = Fault::None;
    switch (fault) {
        case Fault::Silent:
            return;
        case Fault::Fail:
            Send(fd, Short(answer.size() > 2 ? answer[2] : 0, RESULT_FAIL));
            return;
        case Fault::Split: {
            const size_t half = answer.size() / 2;
            Send(fd, Bytes(answer.begin(), answer.begin() + static_cast<long>(half)));
            ::usleep(50 * 1000);  // an empty queue between the two pieces
            Send(fd, Bytes(answer.begin() + static_cast<long>(half), answer.end()));
            return;
        }
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
            Send(fd, answer);
            return;
    }
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

void Control(Emulator& emu, const std::string& line) {
    std::istringstream words(line);
    std::string verb, what;
    words >> verb >> what;
    if (verb == "place" && what == "blank") {
        const std::string password = emu.password;
        emu = Emulator();
        emu.password = password;
    } else if (verb == "place" && what == "user") {
        std::string no, date, rights;
        words >> no >> date >> rights;
        Emulator card;
        card.password = emu.password;
        card.kind = CardKind::User;
        if (!ParseHexDigits(no, 6, card.cardNo) || !ParseHexDigits(date, 6, card.valid) ||
            rights.size() != 16) {
            std::cerr << "cardemu: place user CARDNO YYMMDD RIGHTS16\n";
            return;
        }
        PackRights(rights, card.rights);
        emu = card;
    } else if (verb == "remove") {
        emu.kind = CardKind::None;
    } else if (verb == "fault") {
        const std::pair<const char*, Fault> faults[] = {{"silent", Fault::Silent},
                                                        {"fail", Fault::Fail},
                                                        {"split", Fault::Split},
                                                        {"garbage", Fault::Garbage},
                                                        {"long", Fault::Long}};
        for (const auto& [name, fault] : faults) {
            if (what == name) {
                emu.fault = fault;
            }
        }
        if (what == "reply") {
            emu.faultReply.clear();
            unsigned byte = 0;
            while (words >> std::hex >> byte) {
                emu.faultReply.push_back(static_cast<uint8_t>(byte));
            }
            emu.fault = Fault::Reply;
        }
    } else if (verb != "status" && !verb.empty()) {
        std::cerr << "cardemu: unknown control line: " << line << "\n";
        return;
    }
    const char* kinds[] = {"none", "blank", "user", "management"};
    std::cerr << "cardemu: card " << kinds[static_cast<int>(emu.kind)] << "\n";
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::cerr << "usage: cardemu LINK [--password 10DIGITS]\n";
        return 2;
    }
    Emulator emu;
    const std::string link = argv[1];
    if (argc == 4 && std::string(argv[2]) == "--password") {
        emu.password = argv[3];
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
    ::signal(SIGPIPE, SIG_IGN);
    std::cerr << "cardemu: " << link << " -> " << slave << "\n";
    std::cout << "ready" << std::endl;

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
                if (controlLine == "quit") {
                    break;
                }
                Control(emu, controlLine);
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
