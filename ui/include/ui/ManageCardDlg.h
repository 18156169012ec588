#pragma once

#include <QDateTime>
#include <QDialog>

#include <cstdint>
#include <string>

#include "app/CardDesk.h"
#include "app/ReplyHandoff.h"

class QButtonGroup;
class QDateTimeEdit;
class QLineEdit;
class QPushButton;
class QRadioButton;

// " 管理卡": makes management cards (clock, system password, lost card, unlocked card,
// clearing) and reads back the setting a management card holds.
class CManageCardDlg : public QDialog, public CReplyReceiver {
    Q_OBJECT
public:
    explicit CManageCardDlg(CCardDesk desk, QWidget* parent = nullptr);

    std::string m_strPassword;  // the working system password
    uint8_t m_cardData[19] = {};
    QDateTime m_timeClock;  // whole seconds, local time
    int m_nCommand = -1;    // index of the chosen radio button
    std::string m_strCardNo;

    void UpdateData(bool save);

    void OnPasswordButton();
    void OnMakeCard();
    void OnReadSettings();
    void OnCardReply(const CardReply& reply) override;

private:
    CCardDesk m_desk;

    void OnInitDialog();
    void OnCommandChosen(int command);
    void EnableFor(int command);

    QRadioButton* m_radios[5] = {};
    QButtonGroup* m_pCommands = nullptr;
    QDateTimeEdit* m_pClock = nullptr;
    QPushButton* m_pPasswordButton = nullptr;
    QLineEdit* m_pCardNo = nullptr;
    bool m_bShowingMembers = false;  // members are being copied into the controls
};
