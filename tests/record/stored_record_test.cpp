// The stored-record codec refuses what no stored record can hold.
#include "record/stored_record.h"

#include <gtest/gtest.h>

#include <functional>

using namespace corvane::record;

namespace {

TEST(StoredRecord, RefusesWhatDoesNotFit)
{
    const struct {
        const char *what;
        std::function<void()> attempt;
    } rows[] = {
        {"256-byte text", [] { encode({.text = std::string(256, 'a')}); }},
        {"256-byte font name", [] { encode({.fontName = std::string(256, 'a')}); }},
        {"text with a zero", [] { encode({.text = std::string("a\0b", 3)}); }},
        {"521 bytes", [] { decode(std::vector<uint8_t>(kStoredSize - 1)); }},
        {"523 bytes",
         [] {
             std::vector<uint8_t> b(kStoredSize + 1);
             bytesOf(b, Field::Text);
         }},
    };
    for (const auto &r : rows)
        EXPECT_THROW(r.attempt(), std::invalid_argument) << r.what;
    EXPECT_EQ(decode(encode({.text = std::string(255, 'a'), .fontName = std::string(255, 'b')})).fontName,
              std::string(255, 'b'));
}

} // namespace
