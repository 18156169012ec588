#pragma once

// The control ids of the port dialog "端口设置"; each control's object name carries its id
// (app/ControlId.h).
namespace PortSetIds {

inline constexpr int IDC_COM_PORT = 1064;  // "COM:"

}  // namespace PortSetIds
