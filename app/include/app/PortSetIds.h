#pragma once

// The control ids of the port dialog "端口设置"; each control's object name carries its id
// (app/ControlId.h).
namespace PortSetIds {

inline constexpr int IDC_COM_PORT = 1064;     // "COM:"
inline constexpr int IDC_DEVICE_LIST = 1065;  // "串口设备:" the serial devices present

// The columns of the device list.
enum DeviceColumn { COL_CURRENT, COL_MAKER, COL_MODEL, COL_NODE, COL_NAME, COL_COUNT };

}  // namespace PortSetIds
