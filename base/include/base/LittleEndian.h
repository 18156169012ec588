#pragma once

#include <cstdint>
#include <string>

// Little-endian integers appended to and read from byte strings (the journal's and the
// history's records).
inline void PutLe32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>(v >> (8 * i));
    }
}

inline void PutLe64(std::string& out, uint64_t v) {
    PutLe32(out, static_cast<uint32_t>(v));
    PutLe32(out, static_cast<uint32_t>(v >> 32));
}

inline uint32_t GetLe32(const char* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | static_cast<uint8_t>(p[i]);
    }
    return v;
}

inline uint64_t GetLe64(const char* p) {
    return GetLe32(p) | (static_cast<uint64_t>(GetLe32(p + 4)) << 32);
}
