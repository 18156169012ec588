#include <gtest/gtest.h>

#include "base/TextCheck.h"

namespace {

struct Case {
    const char* text;
    int n;
    bool expected;
};

TEST(TextCheck, IsDigits) {
    const Case cases[] = {
        {"000001", 6, true},
        {"123456", 6, true},
        {"12345", 6, false},
        {"1234567", 6, false},
        {"12345a", 6, false},
        {"12 456", 6, false},
        {"5820463917", 10, true},
        {"582046391", 10, false},
        {"", 0, true},
        {"1", 0, false},
        {"12345", -1, false},
        {"\xB0\xA1"
         "1234",
         6, false},
        {"/:0009", 6, false},  // the characters just below '0' and above '9'
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsDigits(c.text, c.n), c.expected) << '"' << c.text << "\" n=" << c.n;
    }
    // A byte of 0x80 or above is not a digit even where '0'..'9' would be in unsigned terms.
    EXPECT_FALSE(IsDigits(std::string("12345\xB9", 6), 6));
}

TEST(TextCheck, IsAmount) {
    const Case cases[] = {
        {"1", 1, true},     {"100", 3, true}, {"1.5", 3, true},  {"12.50", 5, true},
        {"1.05", 4, true},  {"0", 1, false},  {"0.5", 3, false}, {"05", 2, false},
        {"", 0, false},     {".5", 2, false}, {"5.", 2, false},  {"1.2.3", 5, false},
        {"1..2", 4, false}, {"1a", 2, false}, {"-1", 2, false},  {"1 ", 2, false},
        {"12", 3, false},   {"12", 1, false}, {"99.9", 4, true}, {"1.", 2, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsAmount(c.text, c.n), c.expected) << '"' << c.text << "\" n=" << c.n;
    }
}

}  // namespace
