#include "package/des.h"

#include <array>
#include <cstring>

#include "package/des_tables.h"

namespace {
using namespace desTables;

// Typing slips in the tables would otherwise only show as wrong
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

// S-box s followed by P, for every 6-bit group value. Each table is
// indexed by a whole byte whose two top bits are ignored, so the round
// takes its groups out of the half by bytes, with no mask.
using SpTables = std::array<std::array<std::uint32_t, 256>, 8>;
constexpr SpTables makeSpTables()
{
    SpTables sp{};
    for (unsigned s = 0; s < 8; ++s) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            const unsigned x = byte & 63u;
            unsigned row = ((x >> 4) & 2u) | (x & 1u);
            unsigned col = (x >> 1) & 15u;
            std::uint32_t v[2] = {std::uint32_t{sBoxes[s][row][col]} << (28 - 4 * s), 0};
            std::uint32_t p[2] = {};
            permuteWords(pTable, v, p, 32);
            sp[s][byte] = p[0];
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
        ks.even[i] = (g[0] << 24) | (g[2] << 16) | (g[4] << 8) | g[6];
        ks.odd[i] = (g[1] << 24) | (g[3] << 16) | (g[5] << 8) | g[7];
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

// f(R, K): with t = R rotated right by three, the groups of E(R) for
// S-boxes 1,3,5,7 lie in the low six bits of t's four bytes, top byte
// first, and those for 2,4,6,8 in the same places of t rotated left by four.
inline std::uint32_t desRound(std::uint32_t r, std::uint32_t kEven, std::uint32_t kOdd)
{
    std::uint32_t a = rotl32(r, 29) ^ kEven;
    std::uint32_t b = rotl32(r, 1) ^ kOdd;
    return spTables[0][a >> 24] ^ spTables[2][(a >> 16) & 0xFF] ^ spTables[4][(a >> 8) & 0xFF] ^
           spTables[6][a & 0xFF] ^ spTables[1][b >> 24] ^ spTables[3][(b >> 16) & 0xFF] ^
           spTables[5][(b >> 8) & 0xFF] ^ spTables[7][b & 0xFF];
}

// One block as its two big-endian words. Two rounds a step, so the halves
// never change places; after the sixteenth they stand as the standard has
// them before IP^-1.
inline void desWords(const KeySchedule& ks, std::uint32_t& left, std::uint32_t& right, bool encrypt)
{
    // Locals, so the halves stay in registers through the rounds.
    std::uint32_t l = left;
    std::uint32_t r = right;
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
    left = r;
    right = l;
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
