#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "base/BulkMemory.h"
#include "base/CodePage.h"
#include "register/Archive.h"
#include "register/CardMap.h"
#include "register/RegisterFile.h"

namespace {

std::string SerializeCard(CCard& card) {
    std::string out;
    CArchive ar(&out);
    card.Serialize(ar);
    return out;
}

std::vector<std::string> Keys(const CCardMap& map);

// Reads `data` into `map` as a register file is loaded: in place, the texts borrowed from a
// buffer the map keeps.
bool ReadInPlace(const std::string& data, CCardMap& map, uint32_t& max, std::string& error) {
    CBulkMemory bytes(data.size());
    std::memcpy(bytes.data(), data.data(), data.size());
    CArchive ar(bytes.data(), data.size(), CArchive::InPlace{});
    map.KeepTextBuffer(std::move(bytes));
    return ReadRegister(ar, map, max, error);
}

// Reads `data` into a fresh map; returns false with the error text on failure. Reads it a
// second time with every text copied, and expects the same outcome, records and bytes.
bool Read(const std::string& data, CCardMap& map, std::string* error = nullptr,
          uint32_t* maxNumber = nullptr) {
    uint32_t max = 0;
    std::string err;
    const bool ok = ReadInPlace(data, map, max, err);
    if (error != nullptr) {
        *error = err;
    }
    if (maxNumber != nullptr) {
        *maxNumber = max;
    }
    CArchive copying(data.data(), data.size());
    CCardMap copied;
    uint32_t copiedMax = 0;
    std::string copiedError;
    EXPECT_EQ(ReadRegister(copying, copied, copiedMax, copiedError), ok);
    EXPECT_EQ(copiedError, err);
    EXPECT_EQ(copiedMax, max);
    EXPECT_EQ(Keys(copied), Keys(map));
    EXPECT_TRUE(SameBytes(RegisterBytes(copied), RegisterBytes(map)));
    return ok;
}

std::vector<std::string> Keys(const CCardMap& map) {
    std::vector<std::string> keys;
    for (const auto& entry : map) {
        keys.push_back(entry.key.str());
    }
    return keys;
}

std::string U16(uint16_t v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
std::string U32(uint32_t v) {
    return U16(static_cast<uint16_t>(v)) + U16(static_cast<uint16_t>(v >> 16));
}
std::string Str(const std::string& s) {
    return std::string(1, static_cast<char>(s.size())) + s;
}

// The serialised form of a record with default fields except the card number.
std::string DefaultRecord(const std::string& cardNo) {
    CCard card;
    card.m_strCardNo = cardNo;
    return SerializeCard(card);
}

const std::string kClassIntro = FromHex("FF FF 01 00 05 00") + "CCard";
const std::string kClassRef = FromHex("01 80");

TEST(RegisterFile, OneDefaultCardIsTheKnown96Bytes) {
    CCardMap map;
    map.SetAt("000001", MakeCard("000001"));
    const std::string file = RegisterBytes(map);
    EXPECT_EQ(file.size(), 96u);
    EXPECT_EQ(file, OneCardFile());

    CCardMap loaded;
    ASSERT_TRUE(Read(OneCardFile(), loaded));
    ASSERT_EQ(loaded.GetCount(), 1u);
    const CCard* card = loaded.Lookup("000001");
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->m_nNumber, 1);
    EXPECT_EQ(card->m_strValidDate, "00000000");
    EXPECT_EQ(card->m_strRights, "0000000000000000");
    EXPECT_EQ(card->m_strRights2, "0000000000000000");
    EXPECT_TRUE(card->m_strName.empty());
}

TEST(RegisterFile, DefaultRecordBytes) {
    CCard card;
    EXPECT_EQ(SerializeCard(card), FromHex("01 00 00 00  00  00  00  08") + "00000000" +
                                       FromHex("00 08") + "00000000" + std::string(6, '\0') +
                                       FromHex("10") + std::string(16, '0') + FromHex("10") +
                                       std::string(16, '0') + std::string(4, '\0'));
    EXPECT_EQ(DefaultRecord("000001").size(), 76u);
}

TEST(RegisterFile, SeveralCardsInIterationOrderWithClassReferences) {
    CCardMap map;
    map.SetAt("000002", MakeCard("000002", 2));
    map.SetAt("000001", MakeCard("000001", 1));
    map.SetAt("001021", MakeCard("001021", 3));  // same bucket as 000001, inserted later
    CCard two;
    two.m_strCardNo = "000002";
    two.m_nNumber = 2;
    CCard three;
    three.m_strCardNo = "001021";
    three.m_nNumber = 3;
    const std::string expected =
        FromHex("03 00") + Str("001021") + kClassIntro + SerializeCard(three) + Str("000001") +
        kClassRef + DefaultRecord("000001") + Str("000002") + kClassRef + SerializeCard(two);
    EXPECT_TRUE(SameBytes(RegisterBytes(map), expected));
}

TEST(RegisterFile, StringLengthEncodings) {
    struct Case {
        size_t length;
        std::string prefix;
    };
    const Case cases[] = {
        {0, FromHex("00")},
        {254, FromHex("FE")},
        {255, FromHex("FF FF 00")},
        {256, FromHex("FF 00 01")},
        {65533, FromHex("FF FD FF")},
        {65534, FromHex("FF FF FF FE FF 00 00")},
        {65535, FromHex("FF FF FF FF FF 00 00")},
        {70000, FromHex("FF FF FF 70 11 01 00")},
    };
    for (const Case& c : cases) {
        CCardMap map;
        auto card = MakeCard("000001");
        card->m_strRemark = std::string(c.length, 'r');
        map.SetAt("000001", std::move(card));
        const std::string file = RegisterBytes(map);
        // The remark follows the fixed part of the default record.
        const std::string before = file.substr(0, 2 + 7 + kClassIntro.size()) +
                                   DefaultRecord("000001").substr(0, 4 + 1 + 7 + 1 + 9 + 1 + 9 + 5);
        ASSERT_EQ(file.compare(0, before.size(), before), 0) << c.length;
        EXPECT_EQ(file.substr(before.size(), c.prefix.size()), c.prefix) << c.length;

        CCardMap loaded;
        ASSERT_TRUE(Read(file, loaded)) << c.length;
        EXPECT_EQ(loaded.Lookup("000001")->m_strRemark.size(), c.length);
        EXPECT_TRUE(SameBytes(RegisterBytes(loaded), file)) << c.length;
    }
}

TEST(RegisterFile, EntryCountEscapeAt65535) {
    for (const uint32_t count : {65534u, 65535u, 65536u}) {
        CCardMap map;
        char key[16];
        for (uint32_t i = 0; i < count; ++i) {
            std::snprintf(key, sizeof key, "%06u", i);
            map.SetAt(key, MakeCard(key, static_cast<int32_t>(i)));
        }
        const std::string file = RegisterBytes(map);
        const std::string head =
            count < 65535 ? U16(static_cast<uint16_t>(count)) : FromHex("FF FF") + U32(count);
        EXPECT_EQ(file.substr(0, head.size()), head) << count;
        CCardMap loaded;
        uint32_t max = 0;
        ASSERT_TRUE(Read(file, loaded, nullptr, &max)) << count;
        EXPECT_EQ(loaded.GetCount(), count);
        EXPECT_EQ(max, count - 1);
        // Keys sharing a bucket turn round with each load; a second load restores the order.
        CCardMap twice;
        ASSERT_TRUE(Read(RegisterBytes(loaded), twice));
        EXPECT_TRUE(SameBytes(RegisterBytes(twice), file)) << count;
    }
}

// A one-card file whose name field is `nameField` (already encoded).
std::string FileWithName(const std::string& nameField) {
    CCard card;
    card.m_strCardNo = "000001";
    std::string record = SerializeCard(card);
    const size_t nameAt = 4 + 1 + 7 + 1 + 9 + 1 + 9;  // m_strName's empty length byte
    record.replace(nameAt, 1, nameField);
    return FromHex("01 00") + Str("000001") + kClassIntro + record;
}

TEST(RegisterFile, WideStringsAreReadIntoTheCodePage) {
    const std::string zhangSan = Utf8ToCodePage("张三");
    ASSERT_EQ(zhangSan, FromHex("D5 C5 C8 FD"));
    struct Case {
        std::string field;
        std::string expected;
    };
    std::string wideLong;
    std::string narrowLong;
    for (int i = 0; i < 300; ++i) {
        wideLong += FromHex("20 4E");  // U+4E20 丠... any CJK character
        narrowLong += Utf8ToCodePage("丠");
    }
    const Case cases[] = {
        {FromHex("FF FE FF 02 20 5F 09 4E"), Utf8ToCodePage("张三")},
        {FromHex("FF FE FF 00"), ""},
        {FromHex("FF FE FF 03 41 00 42 00 43 00"), "ABC"},
        {FromHex("FF FE FF FF 2C 01") + wideLong, narrowLong},
        {FromHex("FF FE FF FF FF FF 2C 01 00 00") + wideLong, narrowLong},
        {FromHex("FF FE FF 01 00 D8"), "?"},  // an unpaired surrogate
    };
    for (const Case& c : cases) {
        CCardMap loaded;
        std::string error;
        ASSERT_TRUE(Read(FileWithName(c.field), loaded, &error)) << error;
        EXPECT_EQ(loaded.Lookup("000001")->m_strName, c.expected);
    }
    // Written back, a wide string takes the narrow form.
    CCardMap loaded;
    ASSERT_TRUE(Read(FileWithName(FromHex("FF FE FF 02 20 5F 09 4E")), loaded));
    EXPECT_TRUE(SameBytes(RegisterBytes(loaded), FileWithName(Str(zhangSan))));
}

TEST(RegisterFile, KeysSharingABucketComeBackReversedOthersByteForByte) {
    const std::string colliding = FromHex("02 00") + Str("000001") + kClassIntro +
                                  DefaultRecord("000001") + Str("001021") + kClassRef +
                                  DefaultRecord("001021");
    CCardMap loaded;
    ASSERT_TRUE(Read(colliding, loaded));
    EXPECT_EQ(Keys(loaded), (std::vector<std::string>{"001021", "000001"}));
    const std::string reversed = FromHex("02 00") + Str("001021") + kClassIntro +
                                 DefaultRecord("001021") + Str("000001") + kClassRef +
                                 DefaultRecord("000001");
    EXPECT_TRUE(SameBytes(RegisterBytes(loaded), reversed));

    CCardMap many;
    for (int i = 0; i < 500; ++i) {
        char key[8];
        std::snprintf(key, sizeof key, "%06d", i * 7 + 3);
        auto card = MakeCard(key, i);
        card->m_strName = Utf8ToCodePage("王小明");
        card->m_strAddress = Utf8ToCodePage("幸福花园") + std::to_string(i) + "号";
        card->m_nStatus = static_cast<uint8_t>(i % 3);
        many.SetAt(key, std::move(card));
    }
    const std::string file = RegisterBytes(many);
    CCardMap again;
    ASSERT_TRUE(Read(file, again));
    EXPECT_TRUE(SameBytes(RegisterBytes(again), file));
}

TEST(RegisterFile, DuplicateKeysKeepTheLaterRecordInTheFirstPlace) {
    CCard later;
    later.m_strCardNo = "000001";
    later.m_nNumber = 9;
    const std::string file =
        FromHex("03 00") + Str("000001") + kClassIntro + DefaultRecord("000001") + Str("000002") +
        kClassRef + DefaultRecord("000002") + Str("000001") + kClassRef + SerializeCard(later);
    CCardMap loaded;
    uint32_t max = 0;
    ASSERT_TRUE(Read(file, loaded, nullptr, &max));
    EXPECT_EQ(loaded.GetCount(), 2u);
    EXPECT_EQ(loaded.Lookup("000001")->m_nNumber, 9);
    EXPECT_EQ(max, 9u);
}

TEST(RegisterFile, HighestSerialNumberComparedUnsigned) {
    struct Case {
        std::vector<int32_t> numbers;
        uint32_t before;
        uint32_t after;
    };
    const Case cases[] = {
        {{5, 17, 9}, 0, 17},
        {{5, 17, 9}, 20, 20},
        {{3, -1}, 0, 0xFFFFFFFFu},
        {{0}, 0, 0},
    };
    for (const Case& c : cases) {
        CCardMap map;
        for (size_t i = 0; i < c.numbers.size(); ++i) {
            const std::string key = "00000" + std::to_string(i);
            map.SetAt(key, MakeCard(key, c.numbers[i]));
        }
        const std::string file = RegisterBytes(map);
        TempDir dir;
        WriteFile(dir / "cardbook.kcd", file);
        CCardMap loaded;
        uint32_t max = c.before;
        std::string error;
        ASSERT_EQ(LoadRegisterFile(dir / "cardbook.kcd", loaded, max, error), RegisterLoad::Loaded);
        EXPECT_EQ(max, c.after);
    }
}

TEST(RegisterFile, OutOfTableBytesAreKept) {
    auto card = MakeCard("000001");
    card->m_nStatus = 7;
    card->m_nCardType = 200;
    card->m_nSex = 2;
    CCardMap map;
    map.SetAt("000001", std::move(card));
    const std::string file = RegisterBytes(map);
    CCardMap loaded;
    ASSERT_TRUE(Read(file, loaded));
    const CCard* back = loaded.Lookup("000001");
    EXPECT_EQ(back->m_nStatus, 7);
    EXPECT_EQ(back->m_nCardType, 200);
    EXPECT_EQ(back->m_nSex, 2);
    EXPECT_TRUE(SameBytes(RegisterBytes(loaded), file));
    EXPECT_EQ(CardStatusText(7), nullptr);
    EXPECT_EQ(CardTypeText(4), nullptr);
    EXPECT_EQ(CardSexText(2), nullptr);
    EXPECT_STREQ(CardStatusText(CARD_LOST), "挂失");
    EXPECT_STREQ(CardTypeText(CARD_TEMPORARY), "临时卡");
    EXPECT_STREQ(CardSexText(SEX_FEMALE), "女");
}

TEST(RegisterFile, ObjectTagForms) {
    struct Case {
        const char* what;
        std::string secondTag;  // the tag of the second record
        bool loads;
    };
    const Case cases[] = {
        {"class reference", kClassRef, true},
        {"big-tag class reference", FromHex("FF 7F 01 00 00 80"), true},
        {"class introduced again", kClassIntro, true},
        {"null object", FromHex("00 00"), false},
        {"reference to the first object", FromHex("02 00"), false},
        {"undefined class number", FromHex("05 80"), false},
        {"class number of an object", FromHex("02 80"), false},
        {"big-tag object reference", FromHex("FF 7F 02 00 00 00"), false},
    };
    for (const Case& c : cases) {
        const std::string file = FromHex("02 00") + Str("000001") + kClassIntro +
                                 DefaultRecord("000001") + Str("000002") + c.secondTag +
                                 DefaultRecord("000002");
        CCardMap loaded;
        std::string error;
        EXPECT_EQ(Read(file, loaded, &error), c.loads) << c.what << ": " << error;
        EXPECT_EQ(loaded.GetCount(), c.loads ? 2u : 0u) << c.what;
    }
}

TEST(RegisterFile, ForeignAndDamagedHeadersAreRefusedWithWhereAndWhat) {
    struct Case {
        const char* what;
        std::string file;
        const char* errorPart;
    };
    const std::string record = DefaultRecord("000001");
    const Case cases[] = {
        {"unknown class",
         FromHex("01 00") + Str("000001") + FromHex("FF FF 01 00 05 00") + "CCarx" + record,
         "未知的类"},
        {"other schema",
         FromHex("01 00") + Str("000001") + FromHex("FF FF 02 00 05 00") + "CCard" + record,
         "版本号 2"},
        {"name of 64 bytes",
         FromHex("01 00") + Str("000001") + FromHex("FF FF 01 00 40 00") + std::string(64, 'C') +
             record,
         "类名长度 64"},
        {"count beyond the file",
         FromHex("FF FF 00 00 01 00") + Str("000001") + kClassIntro + record, "条目数 65536"},
        {"string beyond the file", FromHex("01 00 FF FF FF FF FF FF 7F") + std::string(30, 'x'),
         "字符串长度"},
        {"trailing bytes", OneCardFile() + "x", "之后还有 1 字节"},
        {"truncated record", OneCardFile().substr(0, 90), "第 1 条记录"},
        {"empty count", std::string(1, '\0'), "偏移 0"},
    };
    for (const Case& c : cases) {
        CCardMap loaded;
        std::string error;
        EXPECT_FALSE(Read(c.file, loaded, &error)) << c.what;
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.what << ": " << error;
        EXPECT_TRUE(loaded.IsEmpty()) << c.what;
    }
}

// A small valid register of two cards with Chinese text.
std::string SmallRegister() {
    CCardMap map;
    auto a = MakeCard("000007", 2);
    a->m_strName = Utf8ToCodePage("李四");
    a->m_strHouseNo = "3-2-501";
    auto b = MakeCard("000008", 3);
    b->m_strRemark = std::string(300, 'x');
    map.SetAt("000007", std::move(a));
    map.SetAt("000008", std::move(b));
    return RegisterBytes(map);
}

std::string Repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

TEST(RegisterFile, ErrorsQuoteAtMostTheFirst32BytesOfAKey) {
    struct Case {
        std::string key;
        std::string quoted;
    };
    const std::string digits = "01234567890123456789012345678901";  // 32 bytes
    const Case cases[] = {
        {"000001", "(键 \"000001\")"},
        {digits, "(键 \"" + digits + "\")"},
        {digits + "2", "(键 \"" + digits + "\"…(共 33 字节))"},
        {std::string(100000, 'k'), "(键 \"" + std::string(32, 'k') + "\"…(共 100000 字节))"},
        {std::string(40, '\xB0'), "(键 \"" + Repeated("\\xB0", 32) + "\"…(共 40 字节))"},
    };
    for (const Case& c : cases) {
        // The key is read whole; the null object after it is what fails.
        std::string file = FromHex("01 00");
        {
            CArchive ar(&file);
            ar << std::string_view(c.key);
        }
        file += FromHex("00 00") + DefaultRecord("000001");
        CCardMap loaded;
        std::string error;
        ASSERT_FALSE(Read(file, loaded, &error)) << c.key.size();
        EXPECT_NE(error.find(c.quoted), std::string::npos) << error;
        EXPECT_NE(error.find("空对象标记"), std::string::npos) << error;
        EXPECT_LT(error.size(), 250u) << c.key.size();
    }
}

TEST(RegisterFile, EveryTruncationFailsAndLeavesTheRegisterAsItWas) {
    const std::string good = SmallRegister();
    TempDir dir;
    for (size_t cut = 1; cut < good.size(); ++cut) {
        WriteFile(dir / "r.kcd", good.substr(0, cut));
        CCardMap map;
        map.SetAt("123456", MakeCard("123456", 4));
        uint32_t max = 4;
        std::string error;
        ASSERT_EQ(LoadRegisterFile(dir / "r.kcd", map, max, error), RegisterLoad::Damaged) << cut;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(Keys(map), std::vector<std::string>{"123456"}) << cut;
        EXPECT_EQ(max, 4u);
    }
}

TEST(RegisterFile, FlippedBytesLoadOrFailCleanly) {
    const std::string good = SmallRegister();
    for (size_t i = 0; i < good.size(); ++i) {
        for (const unsigned char mask : {0x01, 0x80, 0xFF}) {
            std::string bad = good;
            bad[i] = static_cast<char>(bad[i] ^ mask);
            CCardMap map;
            std::string error;
            if (Read(bad, map, &error)) {
                EXPECT_LE(map.GetCount(), 2u);
            } else {
                EXPECT_TRUE(map.IsEmpty());
                EXPECT_FALSE(error.empty());
            }
        }
    }
}

TEST(RegisterFile, LoadOutcomes) {
    TempDir dir;
    CCardMap map;
    map.SetAt("000009", MakeCard("000009"));
    uint32_t max = 0;
    std::string error;
    EXPECT_EQ(LoadRegisterFile(dir / "none.kcd", map, max, error), RegisterLoad::Missing);
    WriteFile(dir / "empty.kcd", "");
    EXPECT_EQ(LoadRegisterFile(dir / "empty.kcd", map, max, error), RegisterLoad::EmptyFile);
    EXPECT_EQ(LoadRegisterFile(dir.path(), map, max, error), RegisterLoad::Unreadable);
    EXPECT_EQ(Keys(map), std::vector<std::string>{"000009"});

    WriteFile(dir / "zero.kcd", FromHex("00 00"));
    EXPECT_EQ(LoadRegisterFile(dir / "zero.kcd", map, max, error), RegisterLoad::Loaded);
    EXPECT_TRUE(map.IsEmpty());
    EXPECT_TRUE(SameBytes(RegisterBytes(map), FromHex("00 00")));

    WriteFile(dir / "one.kcd", OneCardFile());
    EXPECT_EQ(LoadRegisterFile(dir / "one.kcd", map, max, error), RegisterLoad::Loaded);
    EXPECT_EQ(Keys(map), std::vector<std::string>{"000001"});
    EXPECT_EQ(map.GetHashTableSize(), 12001u);
}

TEST(RegisterFile, TextsReadInPlaceLiveAsLongAsTheRegisterAndEditsLeaveNeighboursAlone) {
    TempDir dir;
    CCardMap written;
    std::string longName(300, 'n');  // a three-byte length prefix
    for (const char* key : {"000001", "000002", "000003"}) {
        auto card = MakeCard(key);
        card->m_strName = std::string(key) == "000002" ? longName : Utf8ToCodePage("李四");
        card->m_strRemark = FromHex("FF 00 41");  // bytes that are no text, a NUL among them
        written.SetAt(key, std::move(card));
    }
    const std::string file = RegisterBytes(written);
    WriteFile(dir / "r.kcd", file);

    CCardMap map;
    {
        CCardMap loaded;
        uint32_t max = 0;
        std::string error;
        ASSERT_EQ(LoadRegisterFile(dir / "r.kcd", loaded, max, error), RegisterLoad::Loaded);
        map = std::move(loaded);  // the texts move with the register
    }
    for (const CCardMap::CAssoc& entry : map) {
        const CCard& card = *entry.value;
        EXPECT_TRUE(entry.key.IsBorrowed());
        EXPECT_TRUE(card.m_strName.IsBorrowed());
        EXPECT_EQ(card.m_strCardNo, entry.key);
        EXPECT_EQ(card.m_strRemark, FromHex("FF 00 41"));
        EXPECT_EQ(card.m_strName.c_str()[card.m_strName.size()], '\0');
    }
    EXPECT_EQ(map.Lookup("000002")->m_strName, longName);
    EXPECT_TRUE(SameBytes(RegisterBytes(map), file));

    // A longer and a shorter text in place of loaded ones.
    map.Lookup("000001")->m_strName = std::string(40, 'x');
    map.Lookup("000002")->m_strName = "y";
    EXPECT_FALSE(map.Lookup("000001")->m_strName.IsBorrowed());
    EXPECT_EQ(map.Lookup("000001")->m_strPhone, "");
    EXPECT_EQ(map.Lookup("000003")->m_strName, Utf8ToCodePage("李四"));
    written.Lookup("000001")->m_strName = std::string(40, 'x');
    written.Lookup("000002")->m_strName = "y";
    EXPECT_TRUE(SameBytes(RegisterBytes(map), RegisterBytes(written)));

    // Loading again into the same register replaces it, texts and all.
    uint32_t max = 0;
    std::string error;
    ASSERT_EQ(LoadRegisterFile(dir / "r.kcd", map, max, error), RegisterLoad::Loaded);
    EXPECT_TRUE(SameBytes(RegisterBytes(map), file));
}

TEST(DamagedRegisterName, StampedAndNumberedPastEveryTakenName) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    TempDir dir;
    const std::string path = dir / "cardbook.kcd";
    const std::time_t when = 1796748471;  // 2026-12-08 16:47:51 UTC
    const std::string base = path + ".damaged-20261208-164751";
    EXPECT_EQ(DamagedRegisterName(path, when), base);
    WriteFile(base, "x");
    EXPECT_EQ(DamagedRegisterName(path, when), base + "-2");
    // A link that points nowhere takes its name as well: renaming onto it would replace it.
    ASSERT_EQ(::symlink("/nonexistent", (base + "-2").c_str()), 0);
    EXPECT_EQ(DamagedRegisterName(path, when), base + "-3");
    EXPECT_EQ(DamagedRegisterName(path, when + 1), path + ".damaged-20261208-164752");
    ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
