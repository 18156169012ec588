#pragma once

// The control ids of the management-card dialog " 管理卡", named after the control; each
// control's object name carries its id (app/ControlId.h).
namespace ManageCardIds {

// The command radios.
inline constexpr int IDC_SET_TIME = 1070;      // "校时"
inline constexpr int IDC_SET_PASSWORD = 1071;  // "密码"
inline constexpr int IDC_REPORT_LOST = 1061;   // "挂失"
inline constexpr int IDC_UNLOCK = 1062;        // "解挂"
inline constexpr int IDC_CLEAR = 1064;         // "格式化管理卡"
// The command radios, in the order of the dialog's command numbers (m_nCommand 0 ... 4).
inline constexpr int IDC_COMMANDS[5] = {IDC_SET_TIME, IDC_SET_PASSWORD, IDC_REPORT_LOST, IDC_UNLOCK,
                                        IDC_CLEAR};

inline constexpr int IDC_CLOCK = 1069;    // "时间:"
inline constexpr int IDC_PASSWORD = 118;  // "密码", the button
inline constexpr int IDC_CARD_NO = 1014;  // "卡号:"

}  // namespace ManageCardIds
