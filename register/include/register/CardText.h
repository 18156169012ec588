#pragma once

#include <compare>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A text of a card record: code-page bytes, always followed by a NUL.
//
// A register holds sixteen texts per card and up to a million cards, so a text is two words:
// a pointer and a length. It either owns its bytes (every text that is assigned) or borrows
// them from the text buffer of the register it was loaded into (`Borrowed`), which keeps the
// bytes read from the file for as long as the register lives. Copies always own their bytes.
class CCardText {
public:
    CCardText() noexcept = default;
    CCardText(std::string_view text) { Assign(text); }  // NOLINT: implicit like std::string
    CCardText(const char* text) : CCardText(std::string_view(text)) {}         // NOLINT
    CCardText(const std::string& text) : CCardText(std::string_view(text)) {}  // NOLINT
    CCardText(const CCardText& other) : CCardText(other.view()) {}
    CCardText(CCardText&& other) noexcept
        : m_pBytes(other.m_pBytes), m_nSize(other.m_nSize), m_bOwned(other.m_bOwned) {
        other.Forget();
    }
    ~CCardText() { Release(); }

    CCardText& operator=(const CCardText& other);
    CCardText& operator=(CCardText&& other) noexcept {
        if (this != &other) {
            Release();
            m_pBytes = other.m_pBytes;
            m_nSize = other.m_nSize;
            m_bOwned = other.m_bOwned;
            other.Forget();
        }
        return *this;
    }
    CCardText& operator=(std::string_view text);
    CCardText& operator=(const char* text) { return *this = std::string_view(text); }
    CCardText& operator=(const std::string& text) { return *this = std::string_view(text); }

    // A text whose `size` bytes at `bytes` are followed by a NUL and outlive the text.
    static CCardText Borrowed(const char* bytes, size_t size) noexcept {
        CCardText text;
        if (size != 0) {
            text.m_pBytes = bytes;
            text.m_nSize = static_cast<uint32_t>(size);
        }
        return text;
    }

    const char* data() const noexcept { return m_pBytes; }
    const char* c_str() const noexcept { return m_pBytes; }
    size_t size() const noexcept { return m_nSize; }
    size_t length() const noexcept { return m_nSize; }
    bool empty() const noexcept { return m_nSize == 0; }
    bool IsBorrowed() const noexcept { return !m_bOwned && m_nSize != 0; }
    char operator[](size_t i) const noexcept { return m_pBytes[i]; }
    const char* begin() const noexcept { return m_pBytes; }
    const char* end() const noexcept { return m_pBytes + m_nSize; }

    std::string_view view() const noexcept { return {m_pBytes, m_nSize}; }
    operator std::string_view() const noexcept { return view(); }  // NOLINT
    std::string str() const { return std::string(view()); }

    void clear() noexcept { Release(); }

    // Two texts compare without the reversed-operand ambiguity; anything else through a view.
    template <class T>
    requires std::same_as<T, CCardText>
    friend bool operator==(const CCardText& a, const T& b) noexcept { return a.view() == b.view(); }
    friend bool operator==(const CCardText& a, std::string_view b) noexcept {
        return a.view() == b;
    }
    friend std::strong_ordering operator<=>(const CCardText& a, std::string_view b) noexcept {
        return a.view() <=> b;
    }

private:
    static constexpr const char* kEmpty = "";

    void Assign(std::string_view text);
    void Release() noexcept {
        if (m_bOwned) {
            delete[] m_pBytes;
        }
        Forget();
    }
    void Forget() noexcept {
        m_pBytes = kEmpty;
        m_nSize = 0;
        m_bOwned = false;
    }

    const char* m_pBytes = kEmpty;
    uint32_t m_nSize = 0;
    bool m_bOwned = false;
};
