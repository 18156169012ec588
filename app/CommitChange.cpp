#include "app/CommitChange.h"

#include <string>

#include "app/MessageBox.h"

bool CommitChange(QWidget* parent, CCardStore& store, CCardChange change, CommitMode mode,
                  CommitResult* result) {
    std::string error;
    const CommitResult outcome = store.Commit(std::move(change), mode, error);
    if (result != nullptr) {
        *result = outcome;
    }
    switch (outcome) {
        case CommitResult::Durable:
            return true;
        case CommitResult::Conflict:
            // Another desk's change came first: the form shows it now.
            Msg::Show(parent, QString::fromStdString(error));
            return false;
        case CommitResult::Refused:
            if (store.Shared()) {
                Msg::Show(parent, QStringLiteral("这次修改无法送到卡片登记服务器,没有保存:\n%1\n\n"
                                                 "卡片登记保持不变。")
                                      .arg(QString::fromStdString(error)));
                return false;
            }
            Msg::Show(parent,
                      QStringLiteral("这次修改无法写入磁盘,没有保存:\n%1\n\n卡片登记保持不变。")
                          .arg(QString::fromStdString(error)));
            return false;
        case CommitResult::NotYetSaved:
            if (store.Shared()) {
                Msg::Show(parent,
                          QStringLiteral("卡片已经写好,但卡片登记服务器现在无法连接:\n%1\n\n"
                                         "这次修改保存在本机,服务器恢复连接后会自动送出。")
                              .arg(QString::fromStdString(error)));
                return true;
            }
            Msg::Show(parent,
                      QStringLiteral("卡片已经写好,但这次修改还不能写入磁盘:\n%1\n\n"
                                     "修改保留在程序中,程序会在下一次修改时和退出时再次保存。")
                          .arg(QString::fromStdString(error)));
            return true;
    }
    return false;
}
