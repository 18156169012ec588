// libFuzzer target for the register reader: any byte string either loads or is refused with
// an error, never reads out of bounds; what loads writes out and loads again to the same keys
// (records replaced by a later duplicate key are gone then, so the highest number may drop).
// Read in place, as a file is loaded, the same bytes give the same outcome and the same
// register.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/BulkMemory.h"
#include "register/Archive.h"
#include "register/CardMap.h"
#include "register/RegisterFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CArchive in(data, size);
    CCardMap map;
    uint32_t maxNumber = 0;
    std::string error;
    const bool loaded = ReadRegister(in, map, maxNumber, error);

    CBulkMemory bytes(size);
    if (size != 0) {
        std::memcpy(bytes.data(), data, size);
    }
    CArchive inPlace(bytes.data(), size, CArchive::InPlace{});
    CCardMap mapInPlace;
    mapInPlace.KeepTextBuffer(std::move(bytes));
    uint32_t maxInPlace = 0;
    std::string errorInPlace;
    if (ReadRegister(inPlace, mapInPlace, maxInPlace, errorInPlace) != loaded ||
        errorInPlace != error || maxInPlace != maxNumber) {
        std::abort();
    }
    if (!loaded) {
        if (error.empty() || !map.IsEmpty() || !mapInPlace.IsEmpty()) {
            std::abort();
        }
        return 0;
    }
    std::string written;
    CArchive out(&written);
    WriteRegister(out, map);
    std::string writtenInPlace;
    CArchive outInPlace(&writtenInPlace);
    WriteRegister(outInPlace, mapInPlace);
    if (writtenInPlace != written) {
        std::abort();
    }
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
