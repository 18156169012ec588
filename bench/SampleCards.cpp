#include "bench/SampleCards.h"

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "base/CodePage.h"
#include "register/RegisterFile.h"

namespace {

// The characters of a UTF-8 text, one string each.
std::vector<std::string> Utf8Chars(const char* text) {
    std::vector<std::string> chars;
    for (const char* p = text; *p != '\0';) {
        const unsigned char c = static_cast<unsigned char>(*p);
        const int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        chars.emplace_back(p, static_cast<size_t>(len));
        p += len;
    }
    return chars;
}

}  // namespace

void FillSampleCards(CCardMap& map, uint32_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    const auto pick = [&rng](const std::vector<std::string>& v) {
        return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(rng)];
    };
    const auto number = [&rng](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    const auto surnames = Utf8Chars(
        "王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾萧田董潘袁蔡蒋余于杜叶程");
    const auto given = Utf8Chars(
        "伟芳娜秀英敏静丽强磊军洋勇艳杰娟涛明超兰霞平刚桂华建国志文红玉梅春晓婷辉鹏宇浩然欣怡子轩梓"
        "涵");
    const auto cities = Utf8Chars("北上广深杭南成武西");
    const std::vector<std::string> estates = {"幸福花园", "阳光小区", "翠湖苑",     "金色家园",
                                              "绿地新城", "和平里",   "东方明珠苑", "锦绣江南"};
    const std::vector<std::string> roads = {"建国路",   "人民大道", "中山北路",
                                            "解放西路", "长江东路", "学府街"};
    const std::vector<std::string> remarks = {
        "", "", "", "租户", "业主本人", "家属卡", "物业工作人员", "临时访客,月底到期"};

    char buffer[64];
    for (uint32_t i = 0; i < count; ++i) {
        // 1 + i * 7919 mod 999999 runs through every number 000001 ... 999999 once (7919 and
        // 999999 have no common factor), so 999,999 cards take them all.
        const uint64_t spread = 1 + (uint64_t{i} * 7919u) % 999999u;
        std::snprintf(buffer, sizeof buffer, "%06llu", static_cast<unsigned long long>(spread));
        const std::string cardNo = buffer;
        auto card = std::make_unique<CCard>();
        card->m_nNumber = static_cast<int32_t>(i + 1);
        card->m_nStatus = static_cast<uint8_t>(number(0, 2));
        card->m_strCardNo = cardNo;
        card->m_nCardType = static_cast<uint8_t>(number(0, 3));
        std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", number(2026, 2030), number(1, 12),
                      number(1, 28));
        card->m_strValidDate = buffer;
        card->m_strPassword = "5820463917";
        std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", number(2015, 2026), number(1, 12),
                      number(1, 28));
        card->m_strRegDate = buffer;
        std::string name = pick(surnames) + pick(given);
        if (number(0, 2) != 0) {
            name += pick(given);
        }
        card->m_strName = Utf8ToCodePage(name);
        std::snprintf(buffer, sizeof buffer, "1%02d%08d", number(30, 99), number(0, 99999999));
        card->m_strPhone = buffer;
        std::snprintf(buffer, sizeof buffer, "%d-%d-%d%02d", number(1, 30), number(1, 6),
                      number(1, 33), number(1, 4));
        card->m_strHouseNo = buffer;
        std::snprintf(buffer, sizeof buffer, "%06d%04d%02d%02d%03d%d", number(110000, 659000),
                      number(1940, 2010), number(1, 12), number(1, 28), number(0, 999),
                      number(0, 9));
        card->m_strIdNo = buffer;
        card->m_strAddress =
            Utf8ToCodePage(pick(cities) + "市" + pick(roads) + std::to_string(number(1, 999)) +
                           "号" + pick(estates) + card->m_strHouseNo.str().substr(0, 2) + "栋");
        card->m_strRemark = Utf8ToCodePage(pick(remarks));
        std::string rights(16, '0');
        for (char& door : rights) {
            door = number(0, 3) == 0 ? '1' : '0';
        }
        card->m_strRights = rights;
        card->m_nSex = static_cast<uint8_t>(number(0, 1));
        card->m_strPaid = std::to_string(number(1, 20) * 60);
        card->m_strMonthFee = "60";
        card->m_strYearFee = "600";
        map.SetAt(cardNo, std::move(card));
    }
}

bool LoadSampleCards(CCardMap& map, uint32_t& maxNumber, uint32_t count,
                     const std::string& folder) {
    const std::string path = folder + "/sample.kcd";
    std::string error;
    {
        CCardMap written;
        FillSampleCards(written, count);
        if (!SaveRegisterFile(written, path, path + ".old", error)) {
            std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
            return false;
        }
    }
    const bool loaded = LoadRegisterFile(path, map, maxNumber, error) == RegisterLoad::Loaded;
    if (!loaded) {
        std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), error.c_str());
    }
    std::remove(path.c_str());
    std::remove((path + ".old").c_str());
    return loaded;
}
