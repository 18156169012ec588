// The start with a register file that cannot be read: the operator chooses between the backup's
// cards, the cards before the damage and an empty register.

#include "app/RegisterRescue.h"

#include <QDateTime>
#include <QStringList>

#include <ctime>
#include <vector>

#include "app/MessageBox.h"
#include "app/WaitCursor.h"
#include "register/RegisterFile.h"

namespace {

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QString LocalTime(std::time_t when) {
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(when))
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// What the backup holds, in one sentence.
QString BackupText(const DamagedStartFacts& facts, const std::string& backupPath) {
    if (!facts.backupExists) {
        return QStringLiteral("没有备份文件 %1。").arg(Text(backupPath));
    }
    if (!facts.backupLoads) {
        return QStringLiteral("备份文件 %1 也无法读取:%2")
            .arg(Text(backupPath), Text(facts.backupError));
    }
    if (facts.backupCards == 0) {
        return QStringLiteral("备份文件 %1 中没有卡片。").arg(Text(backupPath));
    }
    return QStringLiteral("备份文件 %1 完好:%2 张卡,保存于 %3。")
        .arg(Text(backupPath))
        .arg(facts.backupCards)
        .arg(LocalTime(facts.backupTime));
}

}  // namespace

RescuedStart StartFromDamagedRegister(QWidget* parent, const QString& report,
                                      const std::string& path, const std::string& backupPath,
                                      CCardMap& cards, uint32_t& maxNumber) {
    DamagedStartFacts facts;
    {
        WaitCursor wait;
        facts = GatherDamagedStartFacts(path, backupPath);
    }
    QString text =
        report + QStringLiteral("\n\n") + BackupText(facts, backupPath) + QStringLiteral("\n");
    text += facts.intactCards > 0
                ? QStringLiteral("这个文件在损坏之处以前有 %1 张卡的记录是完好的。")
                      .arg(facts.intactCards)
                : QStringLiteral("这个文件中没有能读出的完好卡片记录。");

    QStringList choices;
    std::vector<RescuedStart> starts;
    if (facts.backupLoads && facts.backupCards > 0) {
        choices << QStringLiteral("从备份开始(%1 张卡)").arg(facts.backupCards);
        starts.push_back(RescuedStart::Backup);
    }
    if (facts.intactCards > 0) {
        choices << QStringLiteral("用完好的 %1 张卡开始").arg(facts.intactCards);
        starts.push_back(RescuedStart::Intact);
    }
    if (starts.empty()) {
        Msg::Show(parent, text + QStringLiteral("\n\n将以空的卡片登记开始。"));
        return RescuedStart::Empty;
    }
    choices << QStringLiteral("以空的卡片登记开始");
    starts.push_back(RescuedStart::Empty);
    text +=
        QStringLiteral("\n\n请选择以哪些卡片开始。无论选哪一项,这个文件和备份文件都会原样留存。");
    const RescuedStart start = starts[static_cast<size_t>(Msg::Choose(parent, text, choices))];

    std::string error;
    switch (start) {
        case RescuedStart::Backup: {
            RegisterLoad result;
            {
                WaitCursor wait;
                result = LoadRegisterFile(backupPath, cards, maxNumber, error);
            }
            if (result != RegisterLoad::Loaded) {
                if (error.empty()) {
                    error = result == RegisterLoad::Missing ? "文件已不在" : "文件是空的";
                }
                Msg::Show(parent, QStringLiteral(
                                      "备份文件\n%1\n现在无法读取:\n%2\n\n将以空的卡片登记开始。")
                                      .arg(Text(backupPath), Text(error)));
                return RescuedStart::Empty;
            }
            break;
        }
        case RescuedStart::Intact: {
            size_t kept;
            {
                WaitCursor wait;
                kept = LoadRegisterPrefix(path, cards, maxNumber, error);
            }
            if (kept == 0) {
                Msg::Show(
                    parent,
                    QStringLiteral(
                        "卡片登记文件\n%1\n中现在读不出完好的卡片记录。\n\n将以空的卡片登记开始。")
                        .arg(Text(path)));
                return RescuedStart::Empty;
            }
            break;
        }
        case RescuedStart::Empty:
            break;
    }
    return start;
}
