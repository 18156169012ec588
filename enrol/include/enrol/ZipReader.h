#pragma once

#include <string>
#include <string_view>

// Reads entries of a zip archive held in memory (minizip over the bytes). The bytes must
// outlive the reader.
class CZipReader {
public:
    // Entries larger than this are refused rather than inflated.
    static constexpr size_t kMaxEntrySize = 256u << 20;

    explicit CZipReader(std::string_view bytes);
    ~CZipReader();
    CZipReader(const CZipReader&) = delete;
    CZipReader& operator=(const CZipReader&) = delete;

    // Whether the bytes are a zip archive that minizip can open.
    bool IsOpen() const { return m_zip != nullptr; }
    // The entry `name` inflated into `data`; false when there is none, or it cannot be read
    // whole (then `error` says so; it stays empty when the entry is only missing).
    bool Read(const std::string& name, std::string& data, std::string& error);

    struct Memory {
        std::string_view bytes;
        size_t position = 0;
    };

private:
    Memory m_memory;
    void* m_zip = nullptr;
};
