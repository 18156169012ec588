#include "sheet/OdbcDrivers.h"

#include <odbcinst.h>

#include <cstring>

std::string FirstDriverContaining(const char* list, size_t size, std::string_view word) {
    size_t at = 0;
    while (at < size && list[at] != '\0') {
        const void* nul = std::memchr(list + at, '\0', size - at);
        const size_t end = nul ? static_cast<size_t>(static_cast<const char*>(nul) - list) : size;
        const std::string_view name(list + at, end - at);
        if (name.find(word) != std::string_view::npos) {
            return std::string(name);
        }
        at = end + 1;
    }
    return std::string();
}

std::string FindExcelDriver() {
    char list[2000] = {};
    WORD length = 0;
    if (!SQLGetInstalledDrivers(list, sizeof list, &length)) {
        return std::string();
    }
    return FirstDriverContaining(list, sizeof list, "Excel");
}
