// Package mode on arbitrary HEX text, checked byte for byte against the
// package built from the same loaded image by the steps as written: the
// page header, padding, a bit-by-bit DES in CBC mode over the FIPS tables
// (permuteBits, S-boxes and P one by one) and a bitwise CRC-16. The first
// input byte picks main or DSP and -EA, the next eight are the key.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include <unistd.h>

#include "app/settings.h"
#include "fuzz_support.h"
#include "image/hex_reader.h"
#include "image/image_buffer.h"
#include "image/image_geometry.h"
#include "package/des.h"
#include "package/des_tables.h"
#include "package/package_writer.h"

namespace {
using Bytes = std::vector<std::uint8_t>;
using namespace desTables;

std::uint16_t bitwiseCrc(const std::uint8_t* data, std::size_t length)
{
    if (length == 0)
        return 0;
    unsigned reg = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        reg ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1u) ? (reg >> 1) ^ 0x1021u : reg >> 1;
    }
    reg = ~reg & 0xFFFFu;
    return static_cast<std::uint16_t>((reg << 8) | (reg >> 8));
}

std::uint32_t rotate28(std::uint32_t v, unsigned n)
{
    return ((v << n) | (v >> (28 - n))) & 0xFFFFFFF0u;
}

// One block enciphered as the cipher's steps give it, no table combined.
void slowDes(std::uint8_t* block, const std::uint8_t* key)
{
    std::uint32_t data[2] = {};
    std::uint32_t keyWords[2] = {};
    for (int i = 0; i < 8; ++i) {
        data[i / 4] |= std::uint32_t{block[i]} << (24 - 8 * (i % 4));
        keyWords[i / 4] |= std::uint32_t{key[i]} << (8 * (i % 4));
    }
    std::uint32_t lr[2];
    permuteBits(ipTable, data, lr, 64);
    std::uint32_t cd[2];
    permuteBits(pc1Table, keyWords, cd, 56);
    std::uint32_t c = cd[0] & 0xFFFFFFF0u;
    std::uint32_t d = (cd[0] << 28) | ((cd[1] >> 4) & 0x0FFFFFF0u);
    std::uint32_t l = lr[0];
    std::uint32_t r = lr[1];
    for (unsigned round = 0; round < 16; ++round) {
        c = rotate28(c, shiftSchedule[round]);
        d = rotate28(d, shiftSchedule[round]);
        const std::uint32_t joined[2] = {c | (d >> 28), d << 4};
        std::uint32_t sub[2];
        permuteBits(pc2Table, joined, sub, 48);
        std::uint32_t t = (r >> 1) | (r << 31);
        std::uint32_t sOut = 0;
        for (unsigned group = 0; group < 8; ++group) {
            const unsigned keyBits = 42 - 6 * group;  // subkey bits from the top of 48
            const std::uint64_t sub48 = (std::uint64_t{sub[0]} << 16) | (sub[1] >> 16);
            const unsigned x = ((t >> 26) ^ static_cast<unsigned>(sub48 >> keyBits)) & 63u;
            t = (t << 4) | (t >> 28);
            const unsigned row = ((x >> 4) & 2u) | (x & 1u);
            sOut |= std::uint32_t{sBoxes[group][row][(x >> 1) & 15u]} << (28 - 4 * group);
        }
        const std::uint32_t sWords[2] = {sOut, 0};
        std::uint32_t f[2];
        permuteBits(pTable, sWords, f, 32);
        const std::uint32_t next = l ^ f[0];
        l = r;
        r = next;
    }
    const std::uint32_t rl[2] = {r, l};
    std::uint32_t out[2];
    permuteBits(fpTable, rl, out, 64);
    for (int i = 0; i < 8; ++i)
        block[i] = static_cast<std::uint8_t>(out[i / 4] >> (24 - 8 * (i % 4)));
}

// The package as the writer's steps build it from the image just loaded.
Bytes expectedPackage(int fileType, bool partial, const std::uint8_t* key)
{
    ImageExtent extent{};
    FUZZ_CHECK(loadedImageExtent(fileType, false, nMinHexAddress, nMaxHexAddress, &extent));
    const std::uint32_t length = extent.size;
    std::uint32_t body = length + 8 < 264 ? 264 : length + 8;
    body = pagesOf(body - 8) * 256 + 8;
    Bytes plain(body, 0);
    std::memcpy(plain.data() + 8, imageBuffer + extent.base, length);
    plain[0] = static_cast<std::uint8_t>(length);
    plain[1] = static_cast<std::uint8_t>(length >> 8);
    const std::uint16_t imageCrc = bitwiseCrc(plain.data() + 8, body - 8);
    plain[2] = static_cast<std::uint8_t>(imageCrc);
    plain[3] = static_cast<std::uint8_t>(imageCrc >> 8);
    for (std::uint32_t i = 4; i < 8 && i < length; ++i)
        plain[i] = plain[8 + i];
    const std::uint32_t enciphered = partial && body > 1032 ? 1032 : body;
    const std::uint8_t* previous = cbcInitVector;
    for (std::uint32_t at = 0; at < enciphered; at += 8) {
        for (int i = 0; i < 8; ++i)
            plain[at + i] ^= previous[i];
        slowDes(plain.data() + at, key);
        previous = plain.data() + at;
    }
    Bytes file = {'A', static_cast<std::uint8_t>(fileType)};
    for (std::uint32_t bound : {nMinHexAddress, nMaxHexAddress})
        for (int i = 0; i < 4; ++i)
            file.push_back(static_cast<std::uint8_t>(bound >> (8 * i)));
    const std::uint16_t fileCrc = bitwiseCrc(plain.data(), body);
    file.push_back(static_cast<std::uint8_t>(fileCrc));
    file.push_back(static_cast<std::uint8_t>(fileCrc >> 8));
    file.insert(file.end(), plain.begin(), plain.end());
    return file;
}

Bytes readPackage(const char* name)
{
    std::ifstream file(name, std::ios::binary);
    Bytes bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::remove(name);
    return bytes;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t HEAD = 9;
    if (size < HEAD)
        return 0;
    // Packages are written into the working directory: one of our own
    // while the writer runs, libFuzzer's again for its corpus after it.
    static char folder[] = "/tmp/vn_fuzz_package_XXXXXX";
    static const bool made = mkdtemp(folder) != nullptr;
    static char home[4096];
    static const bool known = getcwd(home, sizeof home) != nullptr;
    FUZZ_CHECK(made && known);
    fuzz::quietConsole();
    fuzz::writeScratch(data + HEAD, size - HEAD);
    const int fileType = (data[0] & 1) ? TYPE_DSP_HEX : TYPE_MAIN_HEX;
    const bool partial = (data[0] & 2) == 0;
    std::uint8_t key[8];
    std::memcpy(key, data + 1, sizeof key);
    const std::string input = fuzz::scratchPath();
    const char* output = fileType == TYPE_DSP_HEX ? "dsp.enc" : "main.enc";

    const PackageRequest request{input.c_str(), static_cast<std::uint8_t>(fileType), false, partial, key};
    FUZZ_CHECK(chdir(folder) == 0);
    const bool packaged = writeUpdatePackage(request) == 1;
    const bool found = access(output, F_OK) == 0;
    const Bytes written = found ? readPackage(output) : Bytes();
    FUZZ_CHECK(chdir(home) == 0);
    FUZZ_CHECK(packaged == found);
    if (!packaged)
        return 0;
    fuzz::consoleText().clear();
    FUZZ_CHECK(readHexFile(input.c_str(), fileType) == 1);
    FUZZ_CHECK(written == expectedPackage(fileType, partial, key));
    return 0;
}
