#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The first name in an installer's driver list (names each ended by a NUL, the list by an
// empty name, within `size` bytes) that contains `word` (case-sensitive); empty for none.
std::string FirstDriverContaining(const char* list, size_t size, std::string_view word);

// The first installed ODBC driver whose name contains "Excel"; empty when there is none or
// the installer cannot be asked.
std::string FindExcelDriver();
