#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <string>

#include "base/Settings.h"

class QLineEdit;
class QPushButton;
class QRadioButton;

// The control ids of "卡片登记位置"; each control's object name carries its id
// (app/ControlId.h).
namespace RegisterPlaceIds {

inline constexpr int IDC_PLACE_FILE = 1801;       // "本机文件"
inline constexpr int IDC_PLACE_SERVER = 1802;     // "服务器"
inline constexpr int IDC_CONNINFO = 1803;         // "连接字符串:"
inline constexpr int IDC_TEST_CONNECTION = 1804;  // "测试连接"
inline constexpr int IDC_PASSWORD_NOTE = 1805;    // where the password comes from
inline constexpr int IDC_PLACE_OK = 1;            // "确定"
inline constexpr int IDC_PLACE_CANCEL = 2;        // "取消"

}  // namespace RegisterPlaceIds

// What the dialog needs of the server's client library, handed in so that the windows build
// without it.
struct RegisterPlaceServer {
    // "测试连接": connects with the connection string and says what became of it.
    std::function<QString(const std::string& conninfo)> testConnection;
    // False with the reason when the connection string does not parse.
    std::function<bool(const std::string& conninfo, std::string& error)> check;
    // The connection string without its password.
    std::function<std::string(const std::string& conninfo)> withoutPassword;
};

// "卡片登记位置": the register file on this machine or a PostgreSQL server, written to the
// settings file; the program uses the new place from its next start.
class CRegisterPlaceDlg : public QDialog {
    Q_OBJECT
public:
    // Shows the place that the settings file at `settingsPath` names.
    CRegisterPlaceDlg(std::string settingsPath, RegisterPlaceServer server,
                      QWidget* parent = nullptr);

    // "测试连接".
    void OnTestConnection();

protected:
    void accept() override;  // "确定"

private:
    // The field's connection string; false (told, the field focused) when empty or unparsed.
    bool TakeConninfo(std::string& conninfo);
    void UpdateControls();

    std::string m_strSettingsPath;
    RegisterPlaceServer m_server;
    RegisterPlace m_opened;  // as the settings file named it at opening
    QRadioButton* m_pFile;
    QRadioButton* m_pServer;
    QLineEdit* m_pConninfo;
    QPushButton* m_pTest;
};
