#pragma once

#include <QString>
#include <QValidator>

class QLineEdit;

// Limits what the operator can type into an edit to `limit` bytes of the register's code page
// (a Chinese character takes two), the way the original edits counted. Typing and pasting stop
// at the limit: an insertion that does not fit is cut to the characters that do. A longer text
// that is already there (put in by the program) can still be shortened.
class CByteLimitValidator : public QValidator {
    Q_OBJECT
public:
    CByteLimitValidator(int limit, QLineEdit* edit);

    State validate(QString& input, int& pos) const override;
    int limit() const { return m_nLimit; }

private:
    int m_nLimit;
    QString m_strBefore;  // the edit's text before the change being validated
};

// Puts a byte limit on `edit` (replacing any earlier one).
void SetByteLimit(QLineEdit* edit, int limit);

// Shows `text` whole, also where it is longer than the edit's byte limit: a value that the
// program puts into a control is never cut.
void ShowWholeText(QLineEdit* edit, const QString& text);
