// libFuzzer target for the register reader: any byte string either loads or is refused with
// an error, never reads out of bounds; what loads writes out and loads again to the same keys
// (records replaced by a later duplicate key are gone then, so the highest number may drop).

#include <cstdint>
#include <cstdlib>
#include <string>

#include "register/Archive.h"
#include "register/CardMap.h"
#include "register/RegisterFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CArchive in(data, size);
    CCardMap map;
    uint32_t maxNumber = 0;
    std::string error;
    if (!ReadRegister(in, map, maxNumber, error)) {
        if (error.empty() || !map.IsEmpty()) {
            std::abort();
        }
        return 0;
    }
    std::string written;
    CArchive out(&written);
    WriteRegister(out, map);
    CArchive again(written.data(), written.size());
    CCardMap reloaded;
    uint32_t maxAgain = 0;
    if (!ReadRegister(again, reloaded, maxAgain, error) || reloaded.GetCount() != map.GetCount() ||
        maxAgain > maxNumber) {
        std::abort();
    }
    for (const CCardMap::CAssoc& entry : map) {
        if (reloaded.Lookup(entry.key) == nullptr) {
            std::abort();
        }
    }
    return 0;
}
