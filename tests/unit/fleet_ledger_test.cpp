// The ledger's pieces: the system's SHA-256 against the standard vectors,
// JSON strings that are always UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "json_string.h"
#include "platform/ledger_files.h"

namespace {
std::string sha256Hex(const std::string& text)
{
    std::uint8_t digest[PLATFORM_SHA256_SIZE];
    EXPECT_TRUE(platformSha256(text.data(), text.size(), digest));
    char hex[2 * PLATFORM_SHA256_SIZE + 1] = {};
    for (std::size_t i = 0; i < PLATFORM_SHA256_SIZE; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}
}  // namespace

TEST(FleetLedger, Sha256GivesTheStandardVectors)
{
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(FleetLedger, JsonStringsAreValidUtf8)
{
    const struct {
        std::string text;
        std::string json;
    } cases[] = {
        {"plain.enc", "\"plain.enc\""},
        {"a\"b\\c\n", "\"a\\\"b\\\\c\\u000a\""},
        {"caf\xC3\xA9", "\"caf\xC3\xA9\""},            // valid two-byte sequence kept
        {"caf\xE9.enc", "\"caf\xEF\xBF\xBD.enc\""},    // a Latin-1 byte
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},  // an overlong form
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate
        {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},  // four bytes
        {"cut\xE2\x82", "\"cut\xEF\xBF\xBD\xEF\xBF\xBD\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(jsonString(c.text), c.json) << c.text;
}
