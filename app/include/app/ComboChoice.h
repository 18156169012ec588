#pragma once

class QComboBox;

// An editable combo whose choice follows its text: the entry whose text it shows exactly, or
// no entry (index −1) for an empty or any other text. Typed text is never added as an entry.
void ChoiceFollowsText(QComboBox* combo);
