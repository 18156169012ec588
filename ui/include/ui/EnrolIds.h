#pragma once

// The control ids of the batch enrolment dialog "批量登记", named after the control; each
// control's object name carries its id (app/ControlId.h).
namespace EnrolIds {

inline constexpr int IDC_ENROL_FILE = 1201;          // the chosen file's name (read only)
inline constexpr int IDC_ENROL_CHOOSE = 1202;        // "选择文件…"
inline constexpr int IDC_ENROL_HEADER = 1203;        // "第一行是标题"
inline constexpr int IDC_ENROL_COLUMNS = 1204;       // the columns and their fields
inline constexpr int IDC_ENROL_PREVIEW = 1205;       // what each row does
inline constexpr int IDC_ENROL_SUMMARY = 1206;       // the counts
inline constexpr int IDC_ENROL_CONFIRM = 1207;       // "确认登记"
inline constexpr int IDC_ENROL_SAVE_REFUSED = 1208;  // "保存拒绝的行…"
inline constexpr int IDC_ENROL_ALLOW_HOLDER = 1209;  // "允许更换持卡人"
inline constexpr int IDC_ENROL_CLOSE = 2;            // "关闭"

// The field chooser of the file's column `column` (from 0).
constexpr int IdcEnrolField(int column) {
    return 1300 + column;
}

// The check box of door `port` (1 ... 16) among the doors a new card opens.
constexpr int IdcEnrolDoor(int port) {
    return 1400 + port;
}

}  // namespace EnrolIds
