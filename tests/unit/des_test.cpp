#include "package/des.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "package/cbc.h"

namespace {

using Block = std::array<std::uint8_t, 8>;

Block fromHex(const char* hex)
{
    Block b{};
    for (int i = 0; i < 8; ++i)
        b[i] = static_cast<std::uint8_t>(std::stoul(std::string(hex + 2 * i, 2), nullptr, 16));
    return b;
}

// The device takes each group of four key bytes in reverse order.
Block storedKey(const Block& desKey)
{
    Block k{};
    for (int j = 0; j < 8; ++j)
        k[j] = desKey[j ^ 3];
    return k;
}

Block run(const Block& in, const Block& key, std::uint8_t flag)
{
    Block out{};
    desBlock(in.data(), out.data(), key.data(), flag);
    return out;
}

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// Published single-block DES vectors (FIPS 81 examples, NIST SP 800-17
// variable plaintext/key entries and others in common use).
constexpr Vector vectors[] = {
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"0123456789ABCDEF", "68652074696D6520", "6A271787AB8883F9"},
    {"0123456789ABCDEF", "666F7220616C6C20", "893D51EC4B563B53"},
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"0101010101010102", "0000000000000000", "869EFD7F9F265A09"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "ED39D950FA74BCC4"},
};

TEST(DesBlock, PublishedVectorsThroughKeyRearrangement)
{
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.key);
        Block key = storedKey(fromHex(v.key));
        EXPECT_EQ(run(fromHex(v.plain), key, 1), fromHex(v.cipher));
        EXPECT_EQ(run(fromHex(v.cipher), key, 0), fromHex(v.plain));
    }
}

TEST(DesBlock, KeyInStoredOrderIsNotStandardDes)
{
    const Vector& v = vectors[0];
    EXPECT_NE(run(fromHex(v.plain), fromHex(v.key), 1), fromHex(v.cipher));
}

TEST(DesBlock, AnyNonZeroFlagEncryptsAndZeroDecrypts)
{
    const Vector& v = vectors[3];
    Block key = storedKey(fromHex(v.key));
    for (std::uint8_t flag : {1, 2, 0x80, 0xFF})
        EXPECT_EQ(run(fromHex(v.plain), key, flag), fromHex(v.cipher)) << int(flag);
    EXPECT_NE(run(fromHex(v.plain), key, 0), fromHex(v.cipher));
}

TEST(DesBlock, RoundTripInPlaceUnderChangingKeys)
{
    Block keyA = fromHex("0123456789ABCDEF");
    Block keyB = fromHex("F0E1D2C3B4A59687");
    std::uint8_t buf[8];
    for (int n = 0; n < 64; ++n) {
        for (int i = 0; i < 8; ++i)
            buf[i] = static_cast<std::uint8_t>(n * 37 + i * 11);
        Block original;
        std::memcpy(original.data(), buf, 8);
        const Block& key = (n & 1) ? keyA : keyB;
        desBlock(buf, buf, key.data(), 1);
        Block separate = run(original, key, 1);
        EXPECT_EQ(0, std::memcmp(buf, separate.data(), 8));
        // The other key in between must not leave a stale schedule behind.
        run(original, (n & 1) ? keyB : keyA, 1);
        desBlock(buf, buf, key.data(), 0);
        EXPECT_EQ(0, std::memcmp(buf, original.data(), 8));
    }
}

TEST(DesBlock, KeySemantics)
{
    Block in = fromHex("0123456789ABCDEF");
    // Only eight bytes are read, and the key stays as it was.
    std::uint8_t key[16] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', '1'};
    std::uint8_t longer[16] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', '2', 'x'};
    Block outA{}, outB{};
    desBlock(in.data(), outA.data(), key, 1);
    desBlock(in.data(), outB.data(), longer, 1);
    EXPECT_EQ(outA, outB);
    EXPECT_EQ(key[0], 'a');

    // The low bit of every key byte is a parity bit; the next one counts.
    Block flipped, other;
    for (int i = 0; i < 8; ++i) {
        flipped[i] = static_cast<std::uint8_t>(key[i] ^ 1);
        other[i] = key[i];
    }
    other[5] ^= 2;
    EXPECT_EQ(run(in, flipped, 1), outA);
    EXPECT_NE(run(in, other, 1), outA);
}

TEST(PermuteBits, MovesNumberedBitsAndClearsTheRest)
{
    std::uint8_t reverse[64];
    for (int i = 0; i < 64; ++i)
        reverse[i] = static_cast<std::uint8_t>(64 - i);
    const std::uint32_t in[2] = {0x80000001u, 0x00000003u};
    std::uint32_t out[2] = {0xFFFFFFFFu, 0xFFFFFFFFu};
    permuteBits(reverse, in, out, 64);
    EXPECT_EQ(out[0], 0xC0000000u);
    EXPECT_EQ(out[1], 0x80000001u);

    const std::uint8_t pick[3] = {64, 1, 2};
    out[0] = out[1] = 0xFFFFFFFFu;
    permuteBits(pick, in, out, 3);
    EXPECT_EQ(out[0], 0xC0000000u);
    EXPECT_EQ(out[1], 0u);

    std::uint8_t wide[40];
    for (int i = 0; i < 40; ++i)
        wide[i] = 1;  // every output bit copies bit 1
    permuteBits(wide, in, out, 40);
    EXPECT_EQ(out[0], 0xFFFFFFFFu);
    EXPECT_EQ(out[1], 0xFF000000u);
}

TEST(XorBlock, XorsEightBytesAndLeavesPrevAlone)
{
    std::uint8_t block[9] = {0, 1, 2, 3, 4, 5, 6, 7, 0xEE};
    const std::uint8_t prev[8] = {0xFF, 0xFF, 0, 0, 0x0F, 0xF0, 7, 0x55};
    xorBlock(block, prev);
    const std::uint8_t expect[9] = {0xFF, 0xFE, 2, 3, 0x0B, 0xF5, 1, 0x52, 0xEE};
    EXPECT_EQ(0, std::memcmp(block, expect, 9));
    EXPECT_EQ(prev[0], 0xFF);
}

TEST(Cbc, InitVectorIsTheDevicesAndChainingMatchesFips81)
{
    const Block iv = fromHex("5A3C91E70B64D218");
    EXPECT_EQ(0, std::memcmp(cbcInitVector, iv.data(), 8));

    // FIPS 81 CBC example (IV 1234567890ABCDEF), enciphered and deciphered
    // by the chain the writer, VNsim and VNinfo share.
    const Block fipsIv = fromHex("1234567890ABCDEF");
    Block key = storedKey(fromHex("0123456789ABCDEF"));
    std::uint8_t text[24];
    const char* plain[3] = {"4E6F772069732074", "68652074696D6520", "666F7220616C6C20"};
    const char* cipher[3] = {"E5C7CDDE872BF27C", "43E934008C389C0F", "683788499A7C05F6"};
    for (int i = 0; i < 3; ++i)
        std::memcpy(text + 8 * i, fromHex(plain[i]).data(), 8);
    for (std::uint8_t encryptFlag : {1, 0}) {
        CbcChain chain;
        cbcStart(chain, key.data(), fipsIv.data());
        for (int off = 0; off < 24; off += 8)
            cbcBlock(chain, text + off, encryptFlag);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(0, std::memcmp(text + 8 * i, fromHex(encryptFlag ? cipher[i] : plain[i]).data(), 8))
                << i << (encryptFlag ? " enciphered" : " deciphered");
    }
}

}  // namespace
