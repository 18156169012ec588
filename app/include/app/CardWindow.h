#pragma once

#include <string>

// What the user-card window and the management-card dialog share with the password dialog:
// the system password that the window puts into its frames.
class CCardWindow {
public:
    virtual ~CCardWindow() = default;
    std::string m_strPassword;
};
