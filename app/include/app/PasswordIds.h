#pragma once

// The control ids of the password dialog "密码"; each control's object name carries its id
// (app/ControlId.h).
namespace PasswordIds {

inline constexpr int IDC_PASSWORD = 1065;  // "密码:"

}  // namespace PasswordIds
