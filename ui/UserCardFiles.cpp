// Register import and export of the user-card window: the whole register in from, or out
// to, a register file that the operator chooses.

#include <QApplication>

#include "app/CodePageText.h"
#include "app/FileDialog.h"
#include "app/MessageBox.h"
#include "base/SafeFile.h"
#include "ui/HistoryDlg.h"
#include "ui/UserCardDlg.h"

void CUserCardDlg::ListAllCards() {
    m_list.DeleteAllItems();
    std::vector<const CCardMap::CAssoc*> entries;
    entries.reserve(m_desk.cards.GetCount());
    for (const CCardMap::CAssoc& entry : m_desk.cards) {
        entries.push_back(&entry);
    }
    AppendCardRows(entries);
}

void CUserCardDlg::OnImport() {
    const QString chosen = FileDlg::Open(this, QStringLiteral("选择一个kcd格式的文件"),
                                         {{QStringLiteral("Files(*.kcd)"), QStringLiteral("*.kcd")},
                                          {QStringLiteral("All Files"), QStringLiteral("*.*")}});
    if (chosen.isEmpty()) {
        return;
    }
    // Every card of the register is replaced: the operator says so first. An empty register
    // loses nothing.
    const auto count = static_cast<qulonglong>(m_desk.cards.GetCount());
    if (count > 0 &&
        !Msg::Ask(
            this,
            QStringLiteral("导入将用文件中的卡片替换当前全部%1张卡片,是否继续?").arg(count))) {
        return;
    }
    // The register as it stands goes to disk first; where that fails (the operator has been
    // told) the import stops, so that no unsaved card is replaced.
    if (!m_desk.files.SaveRegister(m_desk.files.RegisterPath())) {
        return;
    }
    const RegisterLoad result = m_desk.files.LoadRegister(FileDlg::LocalPath(chosen));
    if (result == RegisterLoad::Unreadable || result == RegisterLoad::Damaged) {
        return;  // reported; the register is as it was
    }
    // The store's notice of the replaced register has listed the cards as the window lists
    // them when it opens: by card number.
    ShowMembers();
    switch (result) {
        case RegisterLoad::Missing:
            Msg::Show(this, QStringLiteral("无法打开文件:\n%1\n\n卡片登记保持不变。").arg(chosen));
            break;
        case RegisterLoad::EmptyFile:
            Msg::Show(this, QStringLiteral("文件是空的:\n%1\n\n卡片登记保持不变。").arg(chosen));
            break;
        default:
            Msg::Show(this, QStringLiteral("导入文件成功!"), QMessageBox::NoIcon);
            break;
    }
}

void CUserCardDlg::OnCardHistory() {
    if (!UpdateData(true)) {
        return;
    }
    CHistoryDlg window(HistoryToShow(this, m_desk.store), FromCodePage(m_strCardNo), this);
    window.exec();
}

void CUserCardDlg::OnExport() {
    if (m_list.GetItemCount() == 0) {
        return;
    }
    const FileDlg::SaveTarget target =
        FileDlg::AskSaveTarget(this, QStringLiteral("保存为一个kcd格式的文件"),
                               {QStringLiteral("Files(*.kcd)"), QStringLiteral("*.kcd")},
                               QStringLiteral(".kcd"), Qt::CaseSensitive);
    if (target.IsEmpty()) {
        return;
    }
    if (!m_desk.files.SaveRegister(m_desk.files.RegisterPath())) {
        return;  // reported
    }
    // The target is replaced only by a complete copy: a failed export leaves it as it was.
    std::string error;
    if (!CopyFileSafely(m_desk.files.RegisterPath(), target.path, error)) {
        Msg::Show(this, QStringLiteral("导出失败:\n%1").arg(QString::fromStdString(error)));
        return;
    }
    // The register's personal data has left the program: on record.
    m_desk.store.Record(
        static_cast<uint8_t>(HistoryOperation::Export),
        "文件:" + target.path + "; 卡片" + std::to_string(m_desk.cards.GetCount()) + "张", error);
    Msg::Show(QApplication::activeWindow(), QStringLiteral("导出文件保存于%1!").arg(target.name));
}
