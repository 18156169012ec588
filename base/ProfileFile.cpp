#include "base/ProfileFile.h"

#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "base/PosixIo.h"
#include "base/SafeFile.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

struct Line {
    explicit Line(std::string t) : text(std::move(t)) {}
    std::string text;  // without the line break
    enum Kind { Other, Section, Entry } kind = Other;
    std::string name;   // section or key name
    std::string value;  // entry value
};

// The lines of the file, classified.
struct Profile {
    std::vector<Line> lines;
    std::string eol = "\r\n";
    bool endsWithEol = true;
};

void Classify(Line& line) {
    const std::string_view t = Trim(line.text);
    if (!t.empty() && t.front() == '[') {
        const size_t close = t.find(']');
        line.kind = Line::Section;
        line.name = std::string(Trim(
            t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
        return;
    }
    if (t.empty() || t.front() == ';') {
        return;
    }
    const size_t eq = t.find('=');
    line.kind = Line::Entry;
    line.name = std::string(Trim(t.substr(0, eq)));
    line.value = eq == std::string_view::npos ? std::string() : std::string(Trim(t.substr(eq + 1)));
}

bool ReadProfile(const std::string& path, Profile& profile) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    const std::string data = all.str();
    profile.eol = data.find("\r\n") != std::string::npos || data.find('\n') == std::string::npos
                      ? "\r\n"
                      : "\n";
    profile.endsWithEol = data.empty() || data.back() == '\n';
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) {
            end = data.size();
        }
        std::string text = data.substr(start, end - start);
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        profile.lines.push_back(Line{std::move(text)});
        start = end + 1;
    }
    for (Line& line : profile.lines) {
        Classify(line);
    }
    return true;
}

// Index of the first entry `key` in any section named `section`, or -1.
long FindEntry(const Profile& profile, std::string_view section, std::string_view key) {
    bool inSection = false;
    for (size_t i = 0; i < profile.lines.size(); ++i) {
        const Line& line = profile.lines[i];
        if (line.kind == Line::Section) {
            inSection = SameName(line.name, section);
        } else if (inSection && line.kind == Line::Entry && SameName(line.name, key)) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

std::string_view StripQuotes(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

}  // namespace

std::string GetProfileString(const std::string& path, std::string_view section,
                             std::string_view key, std::string_view def, size_t bufferSize) {
    Profile profile;
    std::string_view value = def;
    long index = -1;
    if (ReadProfile(path, profile)) {
        index = FindEntry(profile, section, key);
    }
    if (index >= 0) {
        value = StripQuotes(profile.lines[static_cast<size_t>(index)].value);
    }
    const size_t limit = bufferSize == 0 ? 0 : bufferSize - 1;
    return std::string(value.substr(0, limit));
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value, std::string& error) {
    Profile profile;
    if (!ReadProfile(path, profile) && ::access(path.c_str(), F_OK) == 0) {
        // Replacing a file that cannot be read would lose what else it holds.
        error = "无法读取设置文件 " + path + ":" + ErrnoText(errno);
        return false;
    }
    const std::string entry = std::string(key) + "=" + std::string(value);

    const long found = FindEntry(profile, section, key);
    if (found >= 0) {
        Line& line = profile.lines[static_cast<size_t>(found)];
        line.text = line.name + "=" + std::string(value);
    } else {
        // After the last non-blank line of the first matching section, else a new section.
        long insertAt = -1;
        bool inSection = false;
        bool sectionSeen = false;
        for (size_t i = 0; i < profile.lines.size(); ++i) {
            const Line& line = profile.lines[i];
            if (line.kind == Line::Section) {
                if (sectionSeen && inSection) {
                    break;
                }
                inSection = SameName(line.name, section);
                sectionSeen = sectionSeen || inSection;
                if (inSection) {
                    insertAt = static_cast<long>(i) + 1;
                }
            } else if (inSection && !Trim(line.text).empty()) {
                insertAt = static_cast<long>(i) + 1;
            }
        }
        if (insertAt >= 0) {
            profile.lines.insert(profile.lines.begin() + insertAt, Line{entry});
        } else {
            profile.lines.push_back(Line{"[" + std::string(section) + "]"});
            profile.lines.push_back(Line{entry});
            profile.endsWithEol = true;
        }
    }

    std::string data;
    for (size_t i = 0; i < profile.lines.size(); ++i) {
        data += profile.lines[i].text;
        if (i + 1 < profile.lines.size() || profile.endsWithEol) {
            data += profile.eol;
        }
    }
    return SaveFileSafely(
        path, std::string(),
        [&data, &path](int fd, std::string& err) {
            if (!WriteAll(fd, data.data(), data.size())) {
                err = "写入文件失败 " + path + ":" + ErrnoText(errno);
                return false;
            }
            return true;
        },
        error);
}

int ProfileInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (IsBlank(text[i]) || text[i] == '\n')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<int64_t>(INT_MAX) + 1) {
            value = static_cast<int64_t>(INT_MAX) + 1;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    return static_cast<int>(value < INT_MIN ? INT_MIN : value);
}
