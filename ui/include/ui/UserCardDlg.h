#pragma once

#include <QDateTime>
#include <QDialog>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CardDesk.h"
#include "app/ReplyHandoff.h"
#include "cards/CardChecks.h"
#include "ui/ListCtrlCl.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDateTimeEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class CCard;
class CSheetTarget;

// How a spreadsheet export ended.
struct SheetExportEnd {
    bool written = false;
    // By the operator in the progress dialog, or by the window closing before the last row.
    bool canceled = false;
    bool windowClosed = false;
    std::string error;
};

// The twelve cell texts of a card's list row.
CListRow CardRow(const CCard& card);

// The card list's colours, fonts, row height and header, applied before its columns.
void ApplyCardListStyle(CListCtrlCl& list);

// "发卡": the operator's main working window: the form of one card, the editing and device
// buttons, the query panel and the list of all cards.
class CUserCardDlg : public QDialog, public CReplyReceiver {
    Q_OBJECT
public:
    explicit CUserCardDlg(CCardDesk desk, QWidget* parent = nullptr);
    ~CUserCardDlg() override;

    uint8_t m_byReply[19] = {};
    std::string m_strPassword;  // the working system password
    bool m_bNew = false;
    bool m_bEdit = false;
    QComboBox* m_cbQueryStatus = nullptr;
    CListCtrlCl m_list;
    int m_nMode = -1;
    std::string m_strCardNo;
    bool m_bPort[17] = {};  // m_bPort[1] ... m_bPort[16]
    bool m_bAllPorts = false;
    QDateTime m_dateValid;
    int m_nSex = 0;
    int m_nStatus = 0;
    int m_nNumber = 0;
    int m_nCardType = 0;
    std::string m_strName;
    std::string m_strRemark;
    std::string m_strIdNo;
    std::string m_strPhone;
    std::string m_strAddress;
    std::string m_strHouseNo;
    QDateTime m_dateReg;
    std::string m_strPaid;
    std::string m_strMonthFee;
    std::string m_strYearFee;
    std::string m_strExtendFee;
    bool m_bAutoNumber = false;
    QDateTime m_dateExtend;
    QDateTime m_dateQueryTo;
    QDateTime m_dateQueryFrom;
    int m_nQueryStatus = -1;
    std::string m_strQueryHouseNo;
    std::string m_strQueryCardNo;
    std::string m_strQueryName;
    std::string m_strQueryPhone;

    // Copies the controls into the members (false when a text is too long: the operator has
    // been told, the exchange stopped at that field and the operation must stop there too) or
    // the members into the controls (always true).
    [[nodiscard]] bool UpdateData(bool save);
    // The members copied into the controls.
    void ShowMembers();

    void EnableRecordFields();
    void DisableRecordFields();
    void OnRadioIssue();
    void OnRadioExtend();

    // Editing the register through the form (UserCardEditing.cpp).
    void OnNew();
    void OnEdit();
    void OnDelete();
    // False when a pending card was not saved (a check failed or the operator said No).
    bool OnSave();
    // True when the form was stored; a card the register lacks is stored under `newCard`.
    bool SaveForm(CardOperation newCard = CardOperation::Add);
    void OnCancelEdit();
    void OnNewSameInfo();
    void OnPassword();
    void OnSelectAll();
    void OnPortCheck();
    void OnListClick();
    // The form stored as an issued card: whether it is on disk yet.
    CommitResult StoreIssuedCard();
    void ShowNextCard();
    void ClearForm();
    std::optional<std::string> FindFreeCardNo() const;

    // The card device (UserCardDevice.cpp).
    void OnReadCard();
    void OnIssueCard();
    void OnExtend();
    void OnCardReply(const CardReply& reply) override;

    // The query panel and the quick find above the list (UserCardQuery.cpp).
    void OnQuery();
    void OnShowAll();
    // The list narrowed, as the operator types, to the cards whose card number, name, house
    // number, phone or identity number holds the text of "快速查找:"; all listed rows again
    // when it is empty.
    void OnQuickFind();

    // Register import and export (UserCardFiles.cpp).
    void OnImport();
    void OnExport();
    // The spreadsheet export (UserCardSheet.cpp).
    void OnExportExcel();
    // "操作记录": the history of the card in the form (of every card when the form has none).
    void OnCardHistory();

    // The control with the id `id` (ui/UserCardIds.h), for the tests and the operations.
    QWidget* Control(int id) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    CCardDesk m_desk;

    void OnInitDialog();
    void ConnectCommands();
    // The controls read for a switch of mode; false when a text is too long, the mode and
    // its radio buttons then staying as they were.
    bool TakeModeSwitch();
    // What the card rules read of the form, and a failed rule told with the focus on its
    // field (false) or none (true).
    CardForm Form() const;
    bool Passed(const std::optional<CheckFailure>& failure);
    // Steps shared by the editing operations.
    void LoadCard(const CCard& card);
    // The form shows the card as the register holds it now (cleared when it is gone).
    void ShowStoredCard();
    // The record's fields other than card number, validity, password and permissions.
    void LoadRecordDetails(const CCard& card);
    void LoadCardOfRow(int row);
    void CopyFormTo(CCard& card) const;
    // Hands the store the form as the new state of `existing`, or as a new card with the next
    // serial number (whose row the list then puts at the top). False (the operator told) when
    // the store refused.
    bool StoreForm(const CCard* existing, CardOperation operation, CommitMode mode,
                   CommitResult* result = nullptr);
    // The row of the card that the form shows becomes the list's current, selected row,
    // scrolled into view; no row is marked when the list does not show that card.
    void MarkFormCard();
    // "共N张" for the rows the list shows.
    void ShowListCount();
    // The list rebuilt with every card, in the register's order.
    void ListAllCards();
    void OnCardRead(const uint8_t data[]);
    void OnCardExtended();

    // The date texts of the card last loaded: written back while its picker still shows a
    // date that the record did not hold as a real day.
    std::string m_strLoadedValidDate;
    // The payment checked and sent with the last "延期", until its reply records it.
    std::string m_strSentExtendFee;
    std::string m_strLoadedRegDate;

    void FillList();
    // The rows of `entries`, in their order, after the list's rows.
    void AppendCardRows(const std::vector<const CCardMap::CAssoc*>& entries);
    void SetRecordFieldsEnabled(bool enabled);
    // The list's rows through the target, with the progress dialog.
    SheetExportEnd WriteSheet(std::unique_ptr<CSheetTarget> target, const std::string& connection,
                              const std::vector<std::string>& titles);

    bool m_bShowingMembers = false;  // members are being copied into the controls
    QRadioButton* m_pIssueMode = nullptr;
    QRadioButton* m_pExtendMode = nullptr;
    QGroupBox* m_pExtendGroup = nullptr;
    QLineEdit* m_pQuickFind = nullptr;
    QLabel* m_pListCount = nullptr;
    // The text that the list was last narrowed to (GB18030, Latin letters in lower case).
    std::string m_strQuickFind;
    CCardSubscription m_formSubscription;
    // The register's mark (CCardStore::SeenMark()) when the form was last loaded.
    uint64_t m_nFormMark = 0;
};
