#include "enrol/ZipReader.h"

#include <unzip.h>

#include <algorithm>

namespace {

using Memory = CZipReader::Memory;

voidpf OpenMemory(voidpf opaque, const void*, int) {
    return opaque;
}

uLong ReadMemory(voidpf, voidpf stream, void* buffer, uLong size) {
    auto* memory = static_cast<Memory*>(stream);
    const size_t left = memory->bytes.size() - memory->position;
    const size_t count = std::min(static_cast<size_t>(size), left);
    memory->bytes.copy(static_cast<char*>(buffer), count, memory->position);
    memory->position += count;
    return static_cast<uLong>(count);
}

uLong WriteMemory(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T TellMemory(voidpf, voidpf stream) {
    return static_cast<Memory*>(stream)->position;
}

long SeekMemory(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* memory = static_cast<Memory*>(stream);
    ZPOS64_T base = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_CUR:
            base = memory->position;
            break;
        case ZLIB_FILEFUNC_SEEK_END:
            base = memory->bytes.size();
            break;
        default:
            break;
    }
    if (offset > memory->bytes.size() || base > memory->bytes.size() - offset) {
        return -1;
    }
    memory->position = static_cast<size_t>(base + offset);
    return 0;
}

int CloseMemory(voidpf, voidpf) {
    return 0;
}

int ErrorOfMemory(voidpf, voidpf) {
    return 0;
}

}  // namespace

CZipReader::CZipReader(std::string_view bytes) : m_memory{bytes, 0} {
    zlib_filefunc64_def functions{};
    functions.zopen64_file = OpenMemory;
    functions.zread_file = ReadMemory;
    functions.zwrite_file = WriteMemory;
    functions.ztell64_file = TellMemory;
    functions.zseek64_file = SeekMemory;
    functions.zclose_file = CloseMemory;
    functions.zerror_file = ErrorOfMemory;
    functions.opaque = &m_memory;
    m_zip = unzOpen2_64("", &functions);
}

CZipReader::~CZipReader() {
    if (m_zip != nullptr) {
        unzClose(m_zip);
    }
}

bool CZipReader::Read(const std::string& name, std::string& data, std::string& error) {
    data.clear();
    error.clear();
    if (m_zip == nullptr || unzLocateFile(m_zip, name.c_str(), 1) != UNZ_OK) {
        return false;
    }
    if (unzOpenCurrentFile(m_zip) != UNZ_OK) {
        error = name + ": 无法打开(加密或不支持的压缩方式)";
        return false;
    }
    char buffer[16384];
    int count;
    while ((count = unzReadCurrentFile(m_zip, buffer, sizeof buffer)) > 0) {
        if (data.size() + static_cast<size_t>(count) > kMaxEntrySize) {
            unzCloseCurrentFile(m_zip);
            error = name + ": 内容太大";
            data.clear();
            return false;
        }
        data.append(buffer, static_cast<size_t>(count));
    }
    // Closing checks the CRC of what was read.
    if (unzCloseCurrentFile(m_zip) != UNZ_OK || count < 0) {
        error = name + ": 数据已损坏";
        data.clear();
        return false;
    }
    return true;
}
