// libFuzzer target for the journal reader and the changes it holds: any byte string parses
// without reading out of bounds; the records found lie inside the bytes, in sequence, and a
// change that decodes encodes to bytes that decode to the same change.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "store/CardChange.h"
#include "store/Journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CJournal::Contents contents;
    contents.exists = true;
    contents.bytes.assign(reinterpret_cast<const char*>(data), size);
    CJournal::Parse(contents);
    if (!contents.headerValid && !contents.records.empty()) {
        std::abort();
    }
    uint64_t previous = 0;
    for (const CJournal::Record& record : contents.records) {
        const char* begin = contents.bytes.data();
        if (record.payload.data() < begin ||
            record.payload.data() + record.payload.size() > begin + contents.bytes.size() ||
            (previous != 0 && record.seq <= previous)) {
            std::abort();
        }
        previous = record.seq;
        CCardChange change;
        if (record.kind == CJournal::kChange && CCardChange::Decode(record.payload, change)) {
            const std::string encoded = change.Encode();
            CCardChange again;
            if (!CCardChange::Decode(encoded, again) || again.Encode() != encoded) {
                std::abort();
            }
        }
    }
    if (contents.validEnd > size || contents.validEnd + contents.tornBytes > size) {
        std::abort();
    }
    // The bytes as a change on their own.
    CCardChange change;
    if (CCardChange::Decode(contents.bytes, change)) {
        CCardChange again;
        if (!CCardChange::Decode(change.Encode(), again)) {
            std::abort();
        }
    }
    return 0;
}
