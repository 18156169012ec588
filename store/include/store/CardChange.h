#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "register/Card.h"
#include "register/CardMap.h"

// What an operator's action does to the register, for the history: a change is made under one
// of these.
enum class CardOperation : uint8_t {
    Save = 1,        // 修改: a card saved from the form
    Add = 2,         // 新增
    Delete = 3,      // 删除
    SameInfo = 4,    // 新增相同信息卡
    Issue = 5,       // 发卡
    Read = 6,        // 读卡 that changed the record
    Extend = 7,      // 延期, with its payment
    ReportLost = 8,  // 挂失 through a management card
    Unlock = 9,      // 解挂 through a management card
    Enrol = 10,      // 批量登记: every row of a list in one change
};

// One change of the register: the whole new state of some cards and the removal of some keys,
// applied in order, and the serial-number counter after it. A change is applied all or
// nothing, however many cards it holds.
class CCardChange {
public:
    struct Step {
        std::string key;
        std::unique_ptr<CCard> card;  // the card after the change; none: the key is removed
    };

    CCardChange() = default;
    CCardChange(CardOperation operation, uint32_t maxNumber)
        : m_operation(operation), m_nMaxNumber(maxNumber) {}

    void Put(std::string_view key, std::unique_ptr<CCard> card) {
        m_steps.push_back({std::string(key), std::move(card)});
    }
    void Remove(std::string_view key) { m_steps.push_back({std::string(key), nullptr}); }

    // For the history: a note put before the record's content (the list of a batch, an
    // extension's payment), and the money received with the change when it is not the rise
    // of the card's "缴费金额" (an extension's payment, in fen).
    void SetNote(std::string note) { m_strNote = std::move(note); }
    void SetFee(int64_t feeCents) {
        m_nFeeCents = feeCents;
        m_bFeeSet = true;
    }
    const std::string& Note() const { return m_strNote; }
    // Made from the register as it was shown at `mark` (CCardStore::SeenMark()): a store
    // shared with other desks refuses it when one of its cards changed there since. 0: made
    // from the register as it is now.
    void SetSeen(uint64_t mark) { m_nSeen = mark; }
    uint64_t Seen() const { return m_nSeen; }
    bool FeeSet() const { return m_bFeeSet; }
    int64_t Fee() const { return m_nFeeCents; }

    // Serial numbers above `above`, which this change gave out, move up by `by`, and so does
    // the counter: another desk gave out those numbers first.
    void RaiseNumbers(uint32_t above, uint32_t by);

    CardOperation Operation() const { return m_operation; }
    uint32_t MaxNumber() const { return m_nMaxNumber; }
    const std::vector<Step>& Steps() const { return m_steps; }
    bool Empty() const { return m_steps.empty(); }

    // The change in the register file's own field encoding: operation, counter, steps (a key,
    // then for a card the record's 19 fields).
    std::string Encode() const;
    // False when `bytes` are no complete change.
    static bool Decode(std::string_view bytes, CCardChange& change);

    // Applies the steps to `map` as the program's own edits do: a card under a key the map
    // holds replaces that record in its place, a new key goes where the map puts new keys, a
    // removal of a key the map lacks changes nothing. `maxNumber` is raised to the change's.
    // The change's cards move into the map.
    void ApplyTo(CCardMap& map, uint32_t& maxNumber);

private:
    CardOperation m_operation = CardOperation::Save;
    uint32_t m_nMaxNumber = 0;
    std::vector<Step> m_steps;
    std::string m_strNote;
    int64_t m_nFeeCents = 0;
    bool m_bFeeSet = false;
    uint64_t m_nSeen = 0;
};
