#include "register/CardText.h"

#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

CCardText& CCardText::operator=(const CCardText& other) {
    if (this != &other) {
        *this = other.view();
    }
    return *this;
}

CCardText& CCardText::operator=(std::string_view text) {
    // The old bytes go only after the new ones are copied: `text` may be a part of them.
    CCardText copy(text);
    return *this = std::move(copy);
}

void CCardText::Assign(std::string_view text) {
    if (text.empty()) {
        return;
    }
    if (text.size() > std::numeric_limits<uint32_t>::max()) {
        throw std::length_error("card text longer than 4 GiB");
    }
    char* bytes = new char[text.size() + 1];
    std::memcpy(bytes, text.data(), text.size());
    bytes[text.size()] = '\0';
    m_pBytes = bytes;
    m_nSize = static_cast<uint32_t>(text.size());
    m_bOwned = true;
}
