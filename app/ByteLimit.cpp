#include "app/ByteLimit.h"

#include <QLineEdit>

#include <algorithm>

#include "app/CodePageText.h"

namespace {

qsizetype Bytes(const QString& text) {
    return static_cast<qsizetype>(ToCodePage(text).size());
}

}  // namespace

CByteLimitValidator::CByteLimitValidator(int limit, QLineEdit* edit)
    : QValidator(edit), m_nLimit(limit), m_strBefore(edit->text()) {
    // Validation runs before the edit announces its new text, so this holds the old one then.
    connect(edit, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_strBefore = text; });
}

QValidator::State CByteLimitValidator::validate(QString& input, int& pos) const {
    const qsizetype bytes = Bytes(input);
    if (bytes <= m_nLimit) {
        return Acceptable;
    }
    if (bytes <= Bytes(m_strBefore)) {
        return Intermediate;  // a too long text shortened, or left as it is
    }
    // The inserted characters lie between the common beginning and the common end of the old
    // and the new text; drop them from the end of the insertion until the text fits.
    const QString& before = m_strBefore;
    qsizetype prefix = 0;
    const qsizetype shorter = std::min(before.size(), input.size());
    while (prefix < shorter && before.at(prefix) == input.at(prefix)) {
        ++prefix;
    }
    qsizetype suffix = 0;
    while (suffix < shorter - prefix &&
           before.at(before.size() - 1 - suffix) == input.at(input.size() - 1 - suffix)) {
        ++suffix;
    }
    qsizetype insertEnd = input.size() - suffix;
    while (insertEnd > prefix) {
        qsizetype cut = insertEnd - 1;
        if (cut > prefix && input.at(cut).isLowSurrogate() && input.at(cut - 1).isHighSurrogate()) {
            --cut;
        }
        input.remove(cut, insertEnd - cut);
        insertEnd = cut;
        if (Bytes(input) <= m_nLimit) {
            pos = static_cast<int>(insertEnd);
            return Acceptable;
        }
    }
    return Invalid;
}

void SetByteLimit(QLineEdit* edit, int limit) {
    delete edit->validator();
    edit->setValidator(new CByteLimitValidator(limit, edit));
}

void ShowWholeText(QLineEdit* edit, const QString& text) {
    const QValidator* validator = edit->validator();
    edit->setValidator(nullptr);
    edit->setText(text);
    edit->setValidator(validator);
}
