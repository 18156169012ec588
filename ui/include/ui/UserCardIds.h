#pragma once

#include <array>

// The control ids of the user-card window "发卡", named after the control; each control's
// object name carries its id (app/ControlId.h).
namespace UserCardIds {

// Mode.
inline constexpr int IDC_MODE_ISSUE = 1059;   // "发卡"
inline constexpr int IDC_MODE_EXTEND = 1060;  // "延期退卡"

// The issuing group.
inline constexpr int IDC_NEW = 105;            // "新增"
inline constexpr int IDC_EDIT = 106;           // "编辑/修改"
inline constexpr int IDC_DELETE = 107;         // "删除"
inline constexpr int IDC_SAVE = 108;           // "保存"
inline constexpr int IDC_CANCEL = 109;         // "取消"
inline constexpr int IDC_ISSUE_CARD = 110;     // "发行卡片"
inline constexpr int IDC_AUTO_NUMBER = 1000;   // "新增卡号自动生成"
inline constexpr int IDC_NEW_SAME_INFO = 113;  // "新增相同信息卡"

// The extension group.
inline constexpr int IDC_READ_CARD = 115;             // "读卡"
inline constexpr int IDC_EXTEND = 116;                // "延期"
inline constexpr int IDC_RETURN_CARD = 117;           // "退卡" (hidden)
inline constexpr int IDC_EXTEND_WITHOUT_CARD = 1054;  // "无卡延期" (hidden)
inline constexpr int IDC_EXTEND_DATE = 1069;          // the picker of "延期日期:"
inline constexpr int IDC_EXTEND_DATE_LABEL = 1061;    // "延期日期:"
inline constexpr int IDC_EXTEND_FEE = 1055;           // the edit of "缴费:"
inline constexpr int IDC_EXTEND_FEE_LABEL = 1062;     // "缴费:"
inline constexpr int IDC_EXTEND_FEE_UNIT = 1063;      // "元"

// The record form.
inline constexpr int IDC_NUMBER = 1002;      // "编号:"
inline constexpr int IDC_NAME = 1013;        // "姓名:"
inline constexpr int IDC_CARD_NO = 1014;     // "卡号:"
inline constexpr int IDC_SEX = 1047;         // "性别:" (hidden)
inline constexpr int IDC_CARD_TYPE = 1064;   // "卡类型:"
inline constexpr int IDC_PHONE = 1015;       // "联系电话:"
inline constexpr int IDC_ID_NO = 1016;       // "证件号码:"
inline constexpr int IDC_VALID_DATE = 1068;  // "有效期:"
inline constexpr int IDC_REG_DATE = 1052;    // "登记日期:"
inline constexpr int IDC_PAID = 1049;        // "缴费金额:"
inline constexpr int IDC_HOUSE_NO = 1017;    // "门牌号:"
inline constexpr int IDC_MONTH_FEE = 1050;   // "月收费标准:"
inline constexpr int IDC_YEAR_FEE = 1051;    // "年收费标准:"
inline constexpr int IDC_STATUS = 1066;      // "卡片状态:"
inline constexpr int IDC_ADDRESS = 1018;     // "地址:"
inline constexpr int IDC_REMARK = 1019;      // "备注:"
inline constexpr int IDC_ALL_PORTS = 1029;   // "全选"
inline constexpr int IDC_PASSWORD = 118;     // "密码"

// The door check boxes "1号口" ... "16号口", in port order.
inline constexpr std::array<int, 16> IDC_PORTS = {1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010,
                                                  1011, 1012, 1023, 1024, 1025, 1026, 1027, 1028};
// The check box of door `port`, 1 ... 16.
constexpr int IdcPort(int port) {
    return IDC_PORTS[static_cast<size_t>(port - 1)];
}

// The query panel.
inline constexpr int IDC_QUERY_FROM = 1070;      // "登记日期:"
inline constexpr int IDC_QUERY_TO = 1071;        // "至"
inline constexpr int IDC_QUERY_STATUS = 1067;    // "卡片状态:"
inline constexpr int IDC_QUERY_NAME = 1020;      // "姓名:"
inline constexpr int IDC_QUERY_CARD_NO = 1021;   // "卡号:"
inline constexpr int IDC_QUERY_HOUSE_NO = 1022;  // "门牌号:"
inline constexpr int IDC_QUERY_PHONE = 1030;     // "联系电话:"
inline constexpr int IDC_QUERY = 111;            // "查询"
inline constexpr int IDC_SHOW_ALL = 112;         // "显示全部"
inline constexpr int IDC_EXPORT = 119;           // "导出"
inline constexpr int IDC_IMPORT = 114;           // "导入"
inline constexpr int IDC_EXPORT_EXCEL = 120;     // "导出EXCEL"
inline constexpr int IDC_CARD_LIST = 1053;       // the card list

// Above the list.
inline constexpr int IDC_QUICK_FIND = 1072;        // "快速查找:"
inline constexpr int IDC_QUICK_FIND_COUNT = 1073;  // "共N张"
inline constexpr int IDC_CARD_HISTORY = 1074;      // "操作记录": the history of the form's card

}  // namespace UserCardIds
