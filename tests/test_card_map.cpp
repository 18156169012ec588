#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestUtil.h"
#include "register/CardFields.h"
#include "register/CardMap.h"

namespace {

std::vector<std::string> Keys(const CCardMap& map) {
    std::vector<std::string> keys;
    for (const CCardMap::CAssoc& entry : map) {
        keys.push_back(entry.key.str());
    }
    return keys;
}

TEST(CardMap, HashAndBucket) {
    struct Case {
        std::string key;
        uint32_t hash;
        uint32_t bucket;
    };
    const Case cases[] = {
        {"", 0, 0},
        {"a", 97, 97},
        {"000001", 1937201953u, 533},
        {"000002", 1937201954u, 534},
        {"123456", 1978821525u, 637},
        {"999999", 2300427318u, 3632},
        {"\xB0\xA1", 4294964561u, 10678},  // bytes above 0x7F count as negative
    };
    CCardMap map;
    EXPECT_EQ(map.GetHashTableSize(), 12001u);
    for (const Case& c : cases) {
        EXPECT_EQ(CCardMap::HashKey(c.key), c.hash) << c.key;
        EXPECT_EQ(map.BucketOf(c.key), c.bucket) << c.key;
    }
}

TEST(CardMap, IterationRunsThroughBucketsThenChainsNewestFirst) {
    CCardMap map;
    // 000001, 001021 and 002041 share bucket 533; 000002 is in bucket 534.
    for (const char* key : {"999999", "000002", "000001", "001021", "123456", "002041"}) {
        map.SetAt(key, MakeCard(key));
    }
    EXPECT_EQ(Keys(map), (std::vector<std::string>{"002041", "001021", "000001", "000002", "123456",
                                                   "999999"}));
    EXPECT_EQ(map.GetCount(), 6u);
}

TEST(CardMap, ReplaceKeepsThePlaceAndRemoveUnlinks) {
    CCardMap map;
    for (const char* key : {"000001", "001021", "002041"}) {
        map.SetAt(key, MakeCard(key));
    }
    map.SetAt("001021", MakeCard("001021", 7));
    EXPECT_EQ(Keys(map), (std::vector<std::string>{"002041", "001021", "000001"}));
    EXPECT_EQ(map.GetCount(), 3u);
    EXPECT_EQ(map.Lookup("001021")->m_nNumber, 7);

    EXPECT_TRUE(map.RemoveKey("001021"));
    EXPECT_FALSE(map.RemoveKey("001021"));
    EXPECT_EQ(map.Lookup("001021"), nullptr);
    EXPECT_EQ(Keys(map), (std::vector<std::string>{"002041", "000001"}));
    EXPECT_TRUE(map.RemoveKey("002041"));
    EXPECT_TRUE(map.RemoveKey("000001"));
    EXPECT_TRUE(map.IsEmpty());
    EXPECT_TRUE(Keys(map).empty());
}

TEST(CardMap, KeysAreCStrings) {
    CCardMap map;
    map.SetAt(std::string("12\0"
                          "34",
                          5),
              MakeCard("12"));
    EXPECT_NE(map.Lookup("12"), nullptr);
    EXPECT_EQ(Keys(map), std::vector<std::string>{"12"});
}

TEST(CardMap, MoveAndHashTableSize) {
    CCardMap small(17);
    EXPECT_EQ(small.GetHashTableSize(), 17u);
    small.SetAt("000001", MakeCard("000001"));
    EXPECT_FALSE(small.InitHashTable(12001));
    CCardMap other = std::move(small);
    EXPECT_EQ(other.GetCount(), 1u);
    EXPECT_EQ(small.GetCount(), 0u);
    small.SetAt("000002", MakeCard("000002"));  // a moved-from map is usable
    EXPECT_EQ(small.GetCount(), 1u);
    other = std::move(small);
    EXPECT_EQ(Keys(other), std::vector<std::string>{"000002"});
}

TEST(CardMap, TheIndexOfNumbersFollowsEveryChange) {
    CCardMap map;
    EXPECT_FALSE(map.IsNumberTaken(1));
    for (const char* key : {"000001", "999999", "000000", "12345", "1234567", "00004a"}) {
        map.SetAt(key, MakeCard(key));
    }
    map.SetAt(std::string("000007\0tail", 11), MakeCard("000007"));
    const struct {
        int n;
        bool taken;
    } cases[] = {{1, true},       {999999, true}, {7, true},   {0, false},      {12345, false},
                 {123456, false}, {4, false},     {-1, false}, {1000000, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(map.IsNumberTaken(c.n), c.taken) << c.n;
    }
    map.SetAt("000001", MakeCard("000001"));  // a replacement keeps the number taken
    EXPECT_TRUE(map.IsNumberTaken(1));
    EXPECT_TRUE(map.RemoveKey("000001"));
    EXPECT_FALSE(map.IsNumberTaken(1));
    EXPECT_FALSE(map.RemoveKey("000001"));

    CCardMap moved(std::move(map));
    EXPECT_TRUE(moved.IsNumberTaken(999999));
    EXPECT_FALSE(map.IsNumberTaken(999999));
    CCardMap other;
    other.SetAt("000002", MakeCard("000002"));
    other = std::move(moved);
    EXPECT_TRUE(other.IsNumberTaken(7));
    EXPECT_FALSE(other.IsNumberTaken(2));
    other.RemoveAll();
    EXPECT_FALSE(other.IsNumberTaken(7));
    EXPECT_FALSE(other.IsNumberTaken(999999));
}

TEST(CardMap, LookupOfNumberedKeysAgreesWithTheChains) {
    CCardMap map(7);  // few buckets: numbered and other keys share chains
    std::vector<std::string> keys;
    for (int n = 1; n <= 60; n += 3) {
        keys.push_back(CardNoText(n));
    }
    for (const char* other : {"000000", "12345", "abcdef", "0000011"}) {
        keys.push_back(other);
    }
    for (const std::string& key : keys) {
        map.SetAt(key, MakeCard(key));
    }
    map.RemoveKey("000004");
    for (int n = 0; n <= 62; ++n) {
        const std::string key = CardNoText(n);
        const bool present = (n % 3 == 1 && n <= 58 && n != 4) || n == 0;
        ASSERT_EQ(map.Lookup(key) != nullptr, present) << key;
        if (present) {
            EXPECT_EQ(map.Lookup(key)->m_strCardNo, key);
        }
    }
    EXPECT_NE(map.Lookup("abcdef"), nullptr);
    EXPECT_NE(map.Lookup(std::string("000007\0x", 8)), nullptr);
    EXPECT_EQ(map.Lookup("00001"), nullptr);
}

TEST(CardMap, NumberedEntriesComeInAscendingNumber) {
    CCardMap map(7);
    for (const char* key : {"000300", "000002", "abc", "000000", "999999", "000010", "12345"}) {
        map.SetAt(std::string(key), MakeCard(key));  // owned keys
    }
    map.RemoveKey("000010");
    std::vector<std::string> numbered;
    map.ForEachNumbered([&](const CCardMap::CAssoc& e) { numbered.push_back(e.key.str()); });
    EXPECT_EQ(numbered, (std::vector<std::string>{"000002", "000300", "999999"}));
    // A key removed through a view of the entry's own text.
    std::string_view own;
    for (const CCardMap::CAssoc& e : map) {
        if (e.key == "999999") {
            own = e.key;
        }
    }
    ASSERT_EQ(own, "999999");
    EXPECT_TRUE(map.RemoveKey(own));
    EXPECT_FALSE(map.IsNumberTaken(999999));
    EXPECT_EQ(map.GetCount(), 5u);
}

TEST(CardMap, ReservedRoomAndSingleRecordsMix) {
    CCardMap map;
    map.SetAt("000100", MakeCard("000100", 100));  // before any room: allocated alone
    map.Reserve(3);
    std::vector<CCard*> records;
    for (int i = 1; i <= 5; ++i) {  // three from the room, then alone again
        CRecordPtr card = map.NewRecord();
        EXPECT_EQ(card.get_deleter().reserved, i <= 3) << i;
        card->m_nNumber = i;
        card->m_strName = "name" + std::to_string(i);  // owned texts are freed either way
        records.push_back(map.SetAt(CardNoText(i), std::move(card)));
    }
    EXPECT_EQ(map.GetCount(), 6u);
    EXPECT_EQ(map.Lookup("000002"), records[1]);
    // Replacing a record from the room, and removing one, leave the others as they were.
    map.SetAt("000001", MakeCard("000001", 11));
    EXPECT_EQ(map.Lookup("000001")->m_nNumber, 11);
    EXPECT_TRUE(map.RemoveKey("000003"));
    CRecordPtr dropped = map.NewRecord();  // taken and dropped without inserting
    dropped.reset();
    EXPECT_EQ(map.Lookup("000002")->m_strName, "name2");
    CCardMap moved(std::move(map));
    EXPECT_EQ(moved.Lookup("000002"), records[1]);
    moved.RemoveAll();
    EXPECT_TRUE(moved.IsEmpty());
    moved.SetAt("000009", moved.NewRecord());  // usable again after the room is gone
    EXPECT_EQ(moved.Lookup("000009")->m_strCardNo, "");
}

TEST(CardText, OwnedBorrowedAndAlwaysEndedByNul) {
    static const char kStored[] = "borrowed\0rest";
    CCardText borrowed = CCardText::Borrowed(kStored, 8);
    EXPECT_TRUE(borrowed.IsBorrowed());
    EXPECT_EQ(borrowed.data(), kStored);
    EXPECT_EQ(borrowed, "borrowed");

    CCardText copy(borrowed);  // a copy owns its bytes
    EXPECT_FALSE(copy.IsBorrowed());
    EXPECT_NE(copy.data(), kStored);
    EXPECT_EQ(copy, borrowed);
    CCardText moved(std::move(borrowed));  // a move hands the borrowed bytes on
    EXPECT_EQ(moved.data(), kStored);
    EXPECT_TRUE(borrowed.empty());

    CCardText text = "abcdef";
    text = text.view().substr(2);  // from a part of its own bytes
    EXPECT_EQ(text, "cdef");
    const CCardText& same = text;
    text = same;  // assigned itself, the text stays
    EXPECT_EQ(text, "cdef");
    const std::string std = "xyz";
    text = std;
    EXPECT_EQ(text, std);
    EXPECT_TRUE(std == text);
    EXPECT_LT(text, "xz");
    EXPECT_GT(text, CCardText("xy"));
    for (const CCardText& t :
         {CCardText(), CCardText(""), text, copy, moved, CCardText::Borrowed(kStored, 0)}) {
        EXPECT_EQ(t.c_str()[t.size()], '\0');
        EXPECT_EQ(std::string_view(t).size(), t.size());
    }
    text.clear();
    EXPECT_TRUE(text.empty());
    EXPECT_FALSE(CCardText::Borrowed(kStored, 0).IsBorrowed());
}

}  // namespace
