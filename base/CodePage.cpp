#include "base/CodePage.h"

#include <iconv.h>
#include <cerrno>
#include <cstdio>

#include <map>
#include <utility>

namespace {

constexpr const char* kCodePage = "GB18030";

// Opening a converter is costly, so each direction's converter is kept per thread.
iconv_t Converter(const char* to, const char* from) {
    struct Cache {
        std::map<std::pair<std::string, std::string>, iconv_t> open;
        ~Cache() {
            for (auto& entry : open) {
                if (entry.second != reinterpret_cast<iconv_t>(-1)) {
                    ::iconv_close(entry.second);
                }
            }
        }
    };
    thread_local Cache cache;
    const auto key = std::make_pair(std::string(to), std::string(from));
    auto it = cache.open.find(key);
    if (it == cache.open.end()) {
        it = cache.open.emplace(key, ::iconv_open(to, from)).first;
    }
    return it->second;
}

void AppendPlain(std::string& out, std::string_view converted) {
    out += converted;
}

// One conversion with iconv. Converted text goes through `emit`; `onBad` is called with the
// remaining input at a byte sequence that cannot be converted and returns how many input
// bytes to skip.
template <class OnBad, class Emit = decltype(&AppendPlain)>
std::string Convert(const char* to, const char* from, std::string_view in, OnBad onBad,
                    Emit emit = &AppendPlain) {
    std::string out;
    const iconv_t cd = Converter(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return out;
    }
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);  // initial shift state
    char buffer[4096];
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    while (srcLeft > 0) {
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        const size_t rc = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        emit(out, std::string_view(buffer, static_cast<size_t>(dst - buffer)));
        if (rc != static_cast<size_t>(-1) || errno == E2BIG) {
            continue;
        }
        // EILSEQ or EINVAL (incomplete sequence at the end): mark it and go on.
        const size_t skip = onBad(std::string_view(src, srcLeft), out);
        src += skip;
        srcLeft -= skip;
    }
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    ::iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    emit(out, std::string_view(buffer, static_cast<size_t>(dst - buffer)));
    return out;
}

}  // namespace

std::string Utf16leToCodePage(std::string_view utf16le) {
    return Convert(kCodePage, "UTF-16LE", utf16le, [](std::string_view rest, std::string& out) {
        out += '?';
        return rest.size() < 2 ? rest.size() : size_t{2};
    });
}

std::string CodePageToEscapedUtf8(std::string_view bytes) {
    const auto escape = [](std::string& out, std::string_view text) {
        for (char c : text) {
            switch (c) {
                case '\t':
                    out += "\\t";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                default:
                    out += c;
            }
        }
    };
    const auto markByte = [](std::string_view rest, std::string& out) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(rest.front()));
        out += hex;
        return size_t{1};
    };
    return Convert("UTF-8", kCodePage, bytes, markByte, escape);
}

std::string Utf8ToCodePage(std::string_view utf8) {
    return Convert(kCodePage, "UTF-8", utf8, [](std::string_view, std::string& out) {
        out += '?';
        return size_t{1};
    });
}

bool CodePageToUtf8(std::string_view bytes, std::string& utf8) {
    bool good = true;
    utf8 = Convert("UTF-8", kCodePage, bytes, [&good](std::string_view rest, std::string&) {
        good = false;
        return rest.size();  // stop at the first bad sequence
    });
    return good;
}

bool IsUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t extra;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            low = c == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
            high = c == 0xED ? 0x9F : 0xBF;  // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;  // at most U+10FFFF
        } else {
            return false;
        }
        if (n - i <= extra || p[i + 1] < low || p[i + 1] > high) {
            return false;
        }
        for (size_t k = 2; k <= extra; ++k) {
            if (p[i + k] < 0x80 || p[i + k] > 0xBF) {
                return false;
            }
        }
        i += extra + 1;
    }
    return true;
}
