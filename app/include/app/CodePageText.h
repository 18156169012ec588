#pragma once

#include <QString>

#include <string>
#include <string_view>

// The windows' edge between record bytes (the register's code page, read as GB18030) and Qt
// text. `maxBytes` limits the result to whole characters of at most that many bytes.
QString FromCodePage(std::string_view bytes);
// FromCodePage appended to `out`.
void AppendFromCodePage(QString& out, std::string_view bytes);
std::string ToCodePage(const QString& text, int maxBytes = -1);
