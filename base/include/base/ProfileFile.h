#pragma once

#include <string>
#include <string_view>

// An INI file read and written the way the platform's private-profile calls do it:
// section and key names compared without regard to ASCII case, blanks around names and
// values ignored, a value enclosed in matching quotes taken without them, and no more than
// bufferSize - 1 characters of a value returned. Missing file, section or key: `def`.
std::string GetProfileString(const std::string& path, std::string_view section,
                             std::string_view key, std::string_view def, size_t bufferSize = 100);

// Sets key = value in section, keeping every other line of the file as it was; creates the
// file or the section when missing. The file is replaced safely (all or nothing).
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value, std::string& error);

// The C library's atoi: leading blanks, an optional sign, then the leading digits; 0 when
// there are none. Values beyond the int range are clamped.
int ProfileInt(std::string_view text);
