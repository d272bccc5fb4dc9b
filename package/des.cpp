#include "package/des.h"

#include <array>
#include <cstring>
#include <utility>

namespace {

// FIPS 46-3 tables, 1-based source bit numbers.
constexpr std::uint8_t ipTable[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr std::uint8_t fpTable[64] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};

constexpr std::uint8_t pc1Table[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr std::uint8_t pc2Table[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
    23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
    44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr std::uint8_t shiftSchedule[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr std::uint8_t pTable[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr std::uint8_t sBoxes[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}}};

// Typing slips in the tables above would otherwise only show as wrong
// cipher text.
constexpr bool tablesConsistent()
{
    for (unsigned i = 0; i < 64; ++i)
        if (fpTable[ipTable[i] - 1] != i + 1)
            return false;
    for (const auto& box : sBoxes)
        for (const auto& row : box) {
            unsigned seen = 0;
            for (std::uint8_t v : row)
                seen |= 1u << v;
            if (seen != 0xFFFFu)
                return false;
        }
    unsigned shifts = 0;
    for (std::uint8_t s : shiftSchedule)
        shifts += s;
    return shifts == 28;
}
static_assert(tablesConsistent());

constexpr std::uint32_t rotl32(std::uint32_t v, unsigned n)
{
    return n == 0 ? v : (v << n) | (v >> (32 - n));
}

// Rotation of a 28-bit half held left-aligned (low four bits zero).
constexpr std::uint32_t rotl28(std::uint32_t v, unsigned n)
{
    return ((v << n) | (v >> (28 - n))) & 0xFFFFFFF0u;
}

constexpr void permuteWords(const std::uint8_t* table, const std::uint32_t* in,
                            std::uint32_t* out, unsigned nBits)
{
    out[0] = 0;
    out[1] = 0;
    for (unsigned i = 0; i < nBits; ++i) {
        unsigned src = table[i] - 1u;
        if ((in[src >> 5] >> (31 - (src & 31))) & 1u)
            out[i >> 5] |= 1u << (31 - (i & 31));
    }
}

// S-box s followed by P, for every 6-bit group value.
using SpTables = std::array<std::array<std::uint32_t, 64>, 8>;
constexpr SpTables makeSpTables()
{
    SpTables sp{};
    for (unsigned s = 0; s < 8; ++s) {
        for (unsigned x = 0; x < 64; ++x) {
            unsigned row = ((x >> 4) & 2u) | (x & 1u);
            unsigned col = (x >> 1) & 15u;
            std::uint32_t v[2] = {std::uint32_t{sBoxes[s][row][col]} << (28 - 4 * s), 0};
            std::uint32_t p[2] = {};
            permuteWords(pTable, v, p, 32);
            sp[s][x] = p[0];
        }
    }
    return sp;
}
constexpr SpTables spTables = makeSpTables();

// IP and IP^-1 as five masked bit-group exchanges each instead of 64 bit
// moves; checked against the tables below.
constexpr void exchange(std::uint32_t& a, std::uint32_t& b, unsigned shift, std::uint32_t mask)
{
    std::uint32_t t = ((a >> shift) ^ b) & mask;
    b ^= t;
    a ^= t << shift;
}

constexpr void initialPermutation(std::uint32_t& l, std::uint32_t& r)
{
    exchange(l, r, 4, 0x0F0F0F0Fu);
    exchange(l, r, 16, 0x0000FFFFu);
    exchange(r, l, 2, 0x33333333u);
    exchange(r, l, 8, 0x00FF00FFu);
    exchange(l, r, 1, 0x55555555u);
}

constexpr void finalPermutation(std::uint32_t& l, std::uint32_t& r)
{
    exchange(l, r, 1, 0x55555555u);
    exchange(r, l, 8, 0x00FF00FFu);
    exchange(r, l, 2, 0x33333333u);
    exchange(l, r, 16, 0x0000FFFFu);
    exchange(l, r, 4, 0x0F0F0F0Fu);
}

// A bit permutation is settled by where each single bit goes.
constexpr bool matchesTable(void (*fast)(std::uint32_t&, std::uint32_t&), const std::uint8_t* table)
{
    for (unsigned bit = 0; bit < 64; ++bit) {
        std::uint32_t in[2] = {};
        in[bit >> 5] = 1u << (31 - (bit & 31));
        std::uint32_t expect[2] = {};
        permuteWords(table, in, expect, 64);
        std::uint32_t l = in[0];
        std::uint32_t r = in[1];
        fast(l, r);
        if (l != expect[0] || r != expect[1])
            return false;
    }
    return true;
}
static_assert(matchesTable(initialPermutation, ipTable));
static_assert(matchesTable(finalPermutation, fpTable));

// Subkeys K1..K16 of one key, each regrouped for the round: `even` holds
// the groups for S-boxes 1,3,5,7 and `odd` those for 2,4,6,8, each group at
// the place it takes in the rotated right half (see desRound).
struct KeySchedule {
    std::uint8_t key[8];
    bool valid;
    std::uint32_t even[16];
    std::uint32_t odd[16];
};

// One per thread: a package is enciphered under one key, so the schedule is
// worked out once and reused while the key stays the same.
thread_local KeySchedule cachedSchedule;

void buildSchedule(const std::uint8_t* key, KeySchedule& ks)
{
    std::uint32_t keyWords[2];
    for (int w = 0; w < 2; ++w)
        keyWords[w] = std::uint32_t{key[4 * w]} | (std::uint32_t{key[4 * w + 1]} << 8) |
                      (std::uint32_t{key[4 * w + 2]} << 16) |
                      (std::uint32_t{key[4 * w + 3]} << 24);
    std::uint32_t cd[2];
    permuteWords(pc1Table, keyWords, cd, 56);
    std::uint32_t c = cd[0] & 0xFFFFFFF0u;
    std::uint32_t d = (cd[0] << 28) | ((cd[1] >> 4) & 0x0FFFFFF0u);
    for (int i = 0; i < 16; ++i) {
        c = rotl28(c, shiftSchedule[i]);
        d = rotl28(d, shiftSchedule[i]);
        std::uint32_t joined[2] = {c | (d >> 28), d << 4};
        std::uint32_t sub[2];
        permuteWords(pc2Table, joined, sub, 48);
        std::uint32_t half0 = sub[0] & 0xFFFFFF00u;
        std::uint32_t half1 = (sub[0] << 24) | ((sub[1] >> 8) & 0x00FFFF00u);
        std::uint32_t g[8];
        for (int j = 0; j < 4; ++j) {
            g[j] = (half0 >> (26 - 6 * j)) & 63u;
            g[j + 4] = (half1 >> (26 - 6 * j)) & 63u;
        }
        ks.even[i] = (g[0] << 26) | (g[2] << 18) | (g[4] << 10) | (g[6] << 2);
        ks.odd[i] = (g[1] << 26) | (g[3] << 18) | (g[5] << 10) | (g[7] << 2);
    }
    std::memcpy(ks.key, key, 8);
    ks.valid = true;
}

const KeySchedule& scheduleOf(const std::uint8_t* key)
{
    KeySchedule& ks = cachedSchedule;
    if (!ks.valid || std::memcmp(ks.key, key, 8) != 0)
        buildSchedule(key, ks);
    return ks;
}

// f(R, K): with t = R rotated right by one, the groups of E(R) for S-boxes
// 1,3,5,7 lie at bits 31..26, 23..18, 15..10, 7..2 of t, and those for
// 2,4,6,8 at the same places of t rotated left by four.
inline std::uint32_t desRound(std::uint32_t r, std::uint32_t kEven, std::uint32_t kOdd)
{
    std::uint32_t a = rotl32(r, 31) ^ kEven;
    std::uint32_t b = rotl32(r, 3) ^ kOdd;
    return spTables[0][a >> 26] ^ spTables[2][(a >> 18) & 63] ^ spTables[4][(a >> 10) & 63] ^
           spTables[6][(a >> 2) & 63] ^ spTables[1][b >> 26] ^ spTables[3][(b >> 18) & 63] ^
           spTables[5][(b >> 10) & 63] ^ spTables[7][(b >> 2) & 63];
}

// One block as its two big-endian words. Two rounds a step, so the halves
// never change places; after the sixteenth they stand as the standard has
// them before IP^-1.
inline void desWords(const KeySchedule& ks, std::uint32_t& l, std::uint32_t& r, bool encrypt)
{
    initialPermutation(l, r);
    if (encrypt) {
        for (int i = 0; i < 16; i += 2) {
            l ^= desRound(r, ks.even[i], ks.odd[i]);
            r ^= desRound(l, ks.even[i + 1], ks.odd[i + 1]);
        }
    } else {
        // The same subkeys, K16 first.
        for (int i = 15; i > 0; i -= 2) {
            l ^= desRound(r, ks.even[i], ks.odd[i]);
            r ^= desRound(l, ks.even[i - 1], ks.odd[i - 1]);
        }
    }
    finalPermutation(r, l);
    std::swap(l, r);
}

inline std::uint32_t loadBigEndian(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

inline void storeBigEndian(std::uint32_t v, std::uint8_t* p)
{
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace

const std::uint8_t cbcInitVector[8] = {0x5A, 0x3C, 0x91, 0xE7, 0x0B, 0x64, 0xD2, 0x18};

// permuteWords as the key schedule uses it; out may overlap in.
void permuteBits(const std::uint8_t* table, const std::uint32_t* in, std::uint32_t* out,
                 std::uint8_t nBits)
{
    std::uint32_t src[2] = {in[0], in[1]};
    permuteWords(table, src, out, nBits);
}

void xorBlock(std::uint8_t* block, const std::uint8_t* prev)
{
    for (int i = 0; i < 8; ++i)
        block[i] = static_cast<std::uint8_t>(block[i] ^ prev[i]);
}

void desBlock(const std::uint8_t* in, std::uint8_t* out, const std::uint8_t* key,
              std::uint8_t encryptFlag)
{
    std::uint32_t l = loadBigEndian(in);
    std::uint32_t r = loadBigEndian(in + 4);
    desWords(scheduleOf(key), l, r, encryptFlag != 0);
    storeBigEndian(l, out);
    storeBigEndian(r, out + 4);
}

void desCbc(std::uint8_t* data, std::size_t blocks, const std::uint8_t* key, std::uint8_t* chain,
            std::uint8_t encryptFlag)
{
    const KeySchedule& ks = scheduleOf(key);
    std::uint32_t prevL = loadBigEndian(chain);
    std::uint32_t prevR = loadBigEndian(chain + 4);
    for (std::uint8_t* block = data; block != data + DES_BLOCK_SIZE * blocks; block += DES_BLOCK_SIZE) {
        std::uint32_t l = loadBigEndian(block);
        std::uint32_t r = loadBigEndian(block + 4);
        if (encryptFlag) {
            l ^= prevL;
            r ^= prevR;
            desWords(ks, l, r, true);
            prevL = l;
            prevR = r;
        } else {
            const std::uint32_t cipherL = l;
            const std::uint32_t cipherR = r;
            desWords(ks, l, r, false);
            l ^= prevL;
            r ^= prevR;
            prevL = cipherL;
            prevR = cipherR;
        }
        storeBigEndian(l, block);
        storeBigEndian(r, block + 4);
    }
    storeBigEndian(prevL, chain);
    storeBigEndian(prevR, chain + 4);
}
