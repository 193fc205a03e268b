#include "codecs/png_image.h"

#include "codecs/checksum.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

// The zlib stream is deflate with hash-chain LZ77 matching and lazy
// evaluation; each block is written in whichever form comes out smallest:
// dynamic Huffman codes, the fixed ones, or stored.
namespace {

constexpr int32_t WindowSize = 32768;
constexpr int32_t MinMatch = 3;
constexpr int32_t MaxMatch = 258;
constexpr int32_t HashBits = 15;
constexpr int32_t MaxChain = 128;
// A match this long is taken without looking further down the chain, and
// without trying the next position for a longer one.
constexpr int32_t NiceMatch = 258;
constexpr int32_t LazyLimit = 32;
constexpr size_t TokensPerBlock = 16384;
// The most raw bytes a picture may take (rows with their filter bytes).
constexpr uint64_t MaxRawBytes = uint64_t{1} << 30;

uint32_t Adler32(const uint8_t* data, size_t size)
{
    uint32_t a = 1, b = 0;
    while (size > 0) {
        // 5552 bytes is the most before b could pass 2^32.
        const size_t n = std::min<size_t>(size, 5552);
        for (size_t i = 0; i < n; ++i) {
            a += data[i];
            b += a;
        }
        a %= 65521;
        b %= 65521;
        data += n;
        size -= n;
    }
    return b << 16 | a;
}

void PutBig32(std::vector<uint8_t>* out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

void PutChunk(std::vector<uint8_t>* out, const char* type, const uint8_t* data, size_t size)
{
    PutBig32(out, static_cast<uint32_t>(size));
    const size_t start = out->size();
    out->insert(out->end(), type, type + 4);
    if (size > 0) out->insert(out->end(), data, data + size);
    PutBig32(out, Crc32(out->data() + start, size + 4));
}

// Bits go out least significant first, as deflate packs them.
struct BitWriter {
    std::vector<uint8_t>* out;
    uint64_t bits = 0;
    int32_t count = 0;

    void Put(uint32_t value, int32_t n)
    {
        bits |= static_cast<uint64_t>(value) << count;
        count += n;
        while (count >= 8) {
            out->push_back(static_cast<uint8_t>(bits));
            bits >>= 8;
            count -= 8;
        }
    }
    void Align()
    {
        if (count > 0) Put(0, 8 - count);
    }
};

// A literal (length 0, value the byte) or a match (length 3 to 258, value
// the distance).
struct Token {
    uint16_t length;
    uint16_t value;
};

struct Symbol {
    int32_t code;
    int32_t extraBits;
    int32_t extra;
};

int32_t HighBit(uint32_t x)
{
    int32_t b = 0;
    while (x >>= 1) ++b;
    return b;
}

Symbol LengthSymbol(int32_t length)
{
    if (length == MaxMatch) return {285, 0, 0};
    const int32_t x = length - 3;
    if (x < 8) return {257 + x, 0, 0};
    const int32_t b = HighBit(static_cast<uint32_t>(x));
    return {257 + 4 * (b - 1) + ((x >> (b - 2)) & 3), b - 2, x & ((1 << (b - 2)) - 1)};
}

Symbol DistanceSymbol(int32_t distance)
{
    const int32_t x = distance - 1;
    if (x < 4) return {x, 0, 0};
    const int32_t b = HighBit(static_cast<uint32_t>(x));
    return {2 * b + ((x >> (b - 1)) & 1), b - 1, x & ((1 << (b - 1)) - 1)};
}

constexpr int32_t LiteralCodes = 286;
// The fixed code is defined over 288, which its canonical codes count on.
constexpr int32_t FixedLiteralCodes = 288;
constexpr int32_t DistanceCodes = 30;
constexpr int32_t LengthCodes = 19;
constexpr uint8_t LengthOrder[LengthCodes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Huffman code lengths for the frequencies, none longer than maxBits: the
// package-merge method, which gives the best such code, always complete. At
// least two symbols get a code: some inflaters refuse a code with room left.
void BuildLengths(const uint32_t* freq, int32_t n, int32_t maxBits, uint8_t* lengths)
{
    std::vector<int32_t> symbols;
    for (int32_t i = 0; i < n; ++i)
        if (freq[i] > 0) symbols.push_back(i);
    for (int32_t i = 0; symbols.size() < 2; ++i)
        if (freq[i] == 0) symbols.push_back(i);
    auto weight = [&](int32_t s) { return uint64_t{std::max<uint32_t>(freq[s], 1)}; };
    std::stable_sort(symbols.begin(), symbols.end(), [&](int32_t a, int32_t b) { return weight(a) < weight(b); });

    // Level k holds the leaves merged with the pairs of level k - 1, in
    // weight order; a pair names its two items in the level below.
    struct Item {
        uint64_t weight;
        int32_t leaf; // the index in `symbols`, or -1 for a pair
        int32_t first;
    };
    const size_t leaves = symbols.size();
    std::vector<std::vector<Item>> levels(static_cast<size_t>(maxBits));
    for (size_t i = 0; i < leaves; ++i) levels[0].push_back({weight(symbols[i]), static_cast<int32_t>(i), 0});
    for (size_t k = 1; k < levels.size(); ++k) {
        const std::vector<Item>& below = levels[k - 1];
        std::vector<Item>& level = levels[k];
        size_t leaf = 0, pair = 0;
        while (leaf < leaves || pair + 1 < below.size()) {
            const uint64_t pairWeight =
                pair + 1 < below.size() ? below[pair].weight + below[pair + 1].weight : UINT64_MAX;
            if (leaf < leaves && weight(symbols[leaf]) <= pairWeight) {
                level.push_back({weight(symbols[leaf]), static_cast<int32_t>(leaf), 0});
                ++leaf;
            } else {
                level.push_back({pairWeight, -1, static_cast<int32_t>(pair)});
                pair += 2;
            }
        }
    }
    // Each leaf's length is how often the first 2 * leaves - 2 items of the
    // top level contain it.
    std::vector<uint8_t> depth(leaves, 0);
    std::vector<std::pair<size_t, size_t>> open; // (level, item)
    for (size_t i = 0; i < 2 * leaves - 2; ++i) open.push_back({levels.size() - 1, i});
    while (!open.empty()) {
        const auto [k, i] = open.back();
        open.pop_back();
        const Item& item = levels[k][i];
        if (item.leaf >= 0) {
            ++depth[static_cast<size_t>(item.leaf)];
        } else {
            open.push_back({k - 1, static_cast<size_t>(item.first)});
            open.push_back({k - 1, static_cast<size_t>(item.first) + 1});
        }
    }
    std::fill(lengths, lengths + n, 0);
    for (size_t i = 0; i < leaves; ++i) lengths[symbols[i]] = depth[i];
}

// Canonical codes from the lengths, bit-reversed for BitWriter.
void BuildCodes(const uint8_t* lengths, int32_t n, uint16_t* codes)
{
    int32_t count[16] = {};
    for (int32_t i = 0; i < n; ++i) ++count[lengths[i]];
    count[0] = 0;
    int32_t next[16] = {};
    int32_t code = 0;
    for (int32_t len = 1; len < 16; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    for (int32_t i = 0; i < n; ++i) {
        const int32_t len = lengths[i];
        if (len == 0) {
            codes[i] = 0;
            continue;
        }
        uint32_t c = static_cast<uint32_t>(next[len]++), reversed = 0;
        for (int32_t k = 0; k < len; ++k, c >>= 1) reversed = reversed << 1 | (c & 1);
        codes[i] = static_cast<uint16_t>(reversed);
    }
}

struct Code {
    uint8_t lengths[FixedLiteralCodes] = {};
    uint16_t codes[FixedLiteralCodes] = {};
    uint8_t distLengths[DistanceCodes] = {};
    uint16_t distCodes[DistanceCodes] = {};
};

const Code& FixedCode()
{
    static const Code fixed = [] {
        Code c;
        for (int32_t i = 0; i < FixedLiteralCodes; ++i) c.lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        for (int32_t i = 0; i < DistanceCodes; ++i) c.distLengths[i] = 5;
        BuildCodes(c.lengths, FixedLiteralCodes, c.codes);
        BuildCodes(c.distLengths, DistanceCodes, c.distCodes);
        return c;
    }();
    return fixed;
}

// The code lengths of a dynamic block's header, run-length coded.
struct Header {
    int32_t literalCount = 0, distanceCount = 0, lengthCount = 0;
    std::vector<Symbol> runs;
    uint8_t lengthLengths[LengthCodes] = {};
    uint16_t lengthCodes[LengthCodes] = {};
    uint64_t bits = 0;
};

void BuildHeader(const Code& code, Header* h)
{
    h->literalCount = LiteralCodes;
    while (h->literalCount > 257 && code.lengths[h->literalCount - 1] == 0) --h->literalCount;
    h->distanceCount = DistanceCodes;
    while (h->distanceCount > 1 && code.distLengths[h->distanceCount - 1] == 0) --h->distanceCount;
    std::vector<uint8_t> all(code.lengths, code.lengths + h->literalCount);
    all.insert(all.end(), code.distLengths, code.distLengths + h->distanceCount);
    for (size_t i = 0; i < all.size();) {
        size_t run = 1;
        while (i + run < all.size() && all[i + run] == all[i]) ++run;
        const int32_t value = all[i];
        size_t left = run;
        if (value == 0) {
            while (left >= 11) {
                const size_t n = std::min<size_t>(left, 138);
                h->runs.push_back({18, 7, static_cast<int32_t>(n - 11)});
                left -= n;
            }
            if (left >= 3) {
                h->runs.push_back({17, 3, static_cast<int32_t>(left - 3)});
                left = 0;
            }
        } else {
            h->runs.push_back({value, 0, 0});
            --left;
            while (left >= 3) {
                const size_t n = std::min<size_t>(left, 6);
                h->runs.push_back({16, 2, static_cast<int32_t>(n - 3)});
                left -= n;
            }
        }
        for (; left > 0; --left) h->runs.push_back({value, 0, 0});
        i += run;
    }
    uint32_t freq[LengthCodes] = {};
    for (const Symbol& s : h->runs) ++freq[s.code];
    BuildLengths(freq, LengthCodes, 7, h->lengthLengths);
    BuildCodes(h->lengthLengths, LengthCodes, h->lengthCodes);
    h->lengthCount = LengthCodes;
    while (h->lengthCount > 4 && h->lengthLengths[LengthOrder[h->lengthCount - 1]] == 0) --h->lengthCount;
    h->bits = 5 + 5 + 4 + 3 * static_cast<uint64_t>(h->lengthCount);
    for (const Symbol& s : h->runs) h->bits += h->lengthLengths[s.code] + static_cast<uint64_t>(s.extraBits);
}

uint64_t DataBits(const Code& code, const uint32_t* freq, const uint32_t* distFreq)
{
    uint64_t bits = 0;
    for (int32_t i = 0; i < LiteralCodes; ++i) {
        const int32_t extra = i >= 265 && i < 285 ? (i - 261) / 4 : 0;
        bits += static_cast<uint64_t>(freq[i]) * (code.lengths[i] + static_cast<uint64_t>(extra));
    }
    for (int32_t i = 0; i < DistanceCodes; ++i) {
        const int32_t extra = i >= 4 ? i / 2 - 1 : 0;
        bits += static_cast<uint64_t>(distFreq[i]) * (code.distLengths[i] + static_cast<uint64_t>(extra));
    }
    return bits;
}

void WriteTokens(BitWriter* w, const Code& code, const Token* tokens, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const Token& t = tokens[i];
        if (t.length == 0) {
            w->Put(code.codes[t.value], code.lengths[t.value]);
            continue;
        }
        const Symbol len = LengthSymbol(t.length);
        w->Put(code.codes[len.code], code.lengths[len.code]);
        if (len.extraBits) w->Put(static_cast<uint32_t>(len.extra), len.extraBits);
        const Symbol dist = DistanceSymbol(t.value);
        w->Put(code.distCodes[dist.code], code.distLengths[dist.code]);
        if (dist.extraBits) w->Put(static_cast<uint32_t>(dist.extra), dist.extraBits);
    }
    w->Put(code.codes[256], code.lengths[256]);
}

// One block of tokens standing for raw[rawBegin, rawEnd), in its smallest form.
void WriteBlock(BitWriter* w, const Token* tokens, size_t count, const uint8_t* raw, size_t rawBegin, size_t rawEnd,
                bool last)
{
    uint32_t freq[LiteralCodes] = {}, distFreq[DistanceCodes] = {};
    for (size_t i = 0; i < count; ++i) {
        const Token& t = tokens[i];
        if (t.length == 0) {
            ++freq[t.value];
        } else {
            ++freq[LengthSymbol(t.length).code];
            ++distFreq[DistanceSymbol(t.value).code];
        }
    }
    freq[256] = 1;
    Code dynamic;
    BuildLengths(freq, LiteralCodes, 15, dynamic.lengths);
    BuildLengths(distFreq, DistanceCodes, 15, dynamic.distLengths);
    BuildCodes(dynamic.lengths, LiteralCodes, dynamic.codes);
    BuildCodes(dynamic.distLengths, DistanceCodes, dynamic.distCodes);
    Header header;
    BuildHeader(dynamic, &header);

    const uint64_t dynamicBits = 3 + header.bits + DataBits(dynamic, freq, distFreq);
    const uint64_t fixedBits = 3 + DataBits(FixedCode(), freq, distFreq);
    // Stored: each piece of up to 65535 bytes has its header, the padding to
    // a byte, and the length with its complement.
    const size_t rawSize = rawEnd - rawBegin;
    const size_t pieces = std::max<size_t>(1, (rawSize + 65534) / 65535);
    const uint64_t storedBits = static_cast<uint64_t>(pieces) * (3 + 7 + 32) + 8 * static_cast<uint64_t>(rawSize);

    if (storedBits < dynamicBits && storedBits < fixedBits) {
        size_t at = rawBegin;
        for (size_t p = 0; p < pieces; ++p) {
            const size_t n = std::min<size_t>(rawEnd - at, 65535);
            w->Put(last && p + 1 == pieces ? 1 : 0, 1);
            w->Put(0, 2);
            w->Align();
            w->Put(static_cast<uint32_t>(n), 16);
            w->Put(static_cast<uint32_t>(n ^ 0xFFFF), 16);
            w->out->insert(w->out->end(), raw + at, raw + at + n);
            at += n;
        }
        return;
    }
    w->Put(last ? 1 : 0, 1);
    if (fixedBits <= dynamicBits) {
        w->Put(1, 2);
        WriteTokens(w, FixedCode(), tokens, count);
        return;
    }
    w->Put(2, 2);
    w->Put(static_cast<uint32_t>(header.literalCount - 257), 5);
    w->Put(static_cast<uint32_t>(header.distanceCount - 1), 5);
    w->Put(static_cast<uint32_t>(header.lengthCount - 4), 4);
    for (int32_t i = 0; i < header.lengthCount; ++i) w->Put(header.lengthLengths[LengthOrder[i]], 3);
    for (const Symbol& s : header.runs) {
        w->Put(header.lengthCodes[s.code], header.lengthLengths[s.code]);
        if (s.extraBits) w->Put(static_cast<uint32_t>(s.extra), s.extraBits);
    }
    WriteTokens(w, dynamic, tokens, count);
}

// The deflate stream of raw[0, size).
void Deflate(const uint8_t* raw, size_t size, std::vector<uint8_t>* out)
{
    BitWriter w{out};
    std::vector<int32_t> head(size_t{1} << HashBits, -1);
    std::vector<int32_t> prev(WindowSize, -1);
    std::vector<Token> tokens;
    tokens.reserve(TokensPerBlock + 2);
    size_t blockStart = 0; // the first raw byte of the block being gathered
    size_t covered = 0;    // raw bytes the gathered tokens stand for

    auto hash = [&](size_t pos) {
        const uint32_t v = raw[pos] | raw[pos + 1] << 8 | raw[pos + 2] << 16;
        return (v * 2654435761u) >> (32 - HashBits);
    };
    auto insert = [&](size_t pos) {
        if (pos + MinMatch > size) return;
        const uint32_t h = hash(pos);
        prev[pos & (WindowSize - 1)] = head[h];
        head[h] = static_cast<int32_t>(pos);
    };
    auto longest = [&](size_t pos, int32_t* bestDistance) {
        const int32_t limit = static_cast<int32_t>(std::min<size_t>(MaxMatch, size - pos));
        int32_t best = MinMatch - 1;
        int32_t candidate = head[hash(pos)];
        for (int32_t chain = MaxChain; candidate >= 0 && chain > 0; --chain) {
            const size_t c = static_cast<size_t>(candidate);
            if (pos - c > static_cast<size_t>(WindowSize)) break;
            if (raw[c + static_cast<size_t>(best)] == raw[pos + static_cast<size_t>(best)] && raw[c] == raw[pos]) {
                int32_t len = 0;
                while (len < limit && raw[c + static_cast<size_t>(len)] == raw[pos + static_cast<size_t>(len)]) ++len;
                if (len > best) {
                    best = len;
                    *bestDistance = static_cast<int32_t>(pos - c);
                    if (len >= std::min(limit, NiceMatch)) break;
                }
            }
            const int32_t older = prev[c & (WindowSize - 1)];
            if (older >= candidate) break;
            candidate = older;
        }
        return best >= MinMatch ? best : 0;
    };
    auto emit = [&](Token t, size_t bytes) {
        tokens.push_back(t);
        covered += bytes;
        if (tokens.size() >= TokensPerBlock) {
            WriteBlock(&w, tokens.data(), tokens.size(), raw, blockStart, blockStart + covered, false);
            blockStart += covered;
            covered = 0;
            tokens.clear();
        }
    };

    // zlib's lazy evaluation: a match found at one position is taken only
    // when the next position has no longer one.
    int32_t prevLength = 0, prevDistance = 0;
    bool pendingLiteral = false;
    for (size_t pos = 0; pos < size;) {
        int32_t length = 0, distance = 0;
        if (pos + MinMatch <= size) {
            if (prevLength < LazyLimit) length = longest(pos, &distance);
            insert(pos);
        }
        if (prevLength >= MinMatch && length <= prevLength) {
            emit(Token{static_cast<uint16_t>(prevLength), static_cast<uint16_t>(prevDistance)},
                 static_cast<size_t>(prevLength));
            const size_t end = pos - 1 + static_cast<size_t>(prevLength);
            for (size_t p = pos + 1; p < end; ++p) insert(p);
            pos = end;
            prevLength = 0;
            pendingLiteral = false;
            continue;
        }
        if (pendingLiteral) emit(Token{0, raw[pos - 1]}, 1);
        prevLength = length;
        prevDistance = distance;
        pendingLiteral = true;
        ++pos;
    }
    if (pendingLiteral) emit(Token{0, raw[size - 1]}, 1);
    WriteBlock(&w, tokens.data(), tokens.size(), raw, blockStart, blockStart + covered, true);
    w.Align();
}

} // namespace

std::vector<uint8_t> EncodePng(const uint8_t* pixels, int32_t width, int32_t height, const uint8_t (*colours)[4])
{
    if (!pixels || !colours || width < 1 || height < 1) return {};
    const uint64_t rawSize = (static_cast<uint64_t>(width) + 1) * static_cast<uint64_t>(height);
    if (rawSize > MaxRawBytes) return {};

    // Each row behind its filter byte, 0: indexed pictures gain nothing from
    // the other filters.
    const size_t stride = static_cast<size_t>(width);
    std::vector<uint8_t> raw(static_cast<size_t>(rawSize));
    for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
        raw[y * (stride + 1)] = 0;
        std::memcpy(&raw[y * (stride + 1) + 1], pixels + y * stride, stride);
    }

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    uint8_t header[13] = {};
    for (int32_t i = 0; i < 4; ++i) {
        header[i] = static_cast<uint8_t>(static_cast<uint32_t>(width) >> (24 - 8 * i));
        header[4 + i] = static_cast<uint8_t>(static_cast<uint32_t>(height) >> (24 - 8 * i));
    }
    header[8] = 8; // bits per index
    header[9] = 3; // indexed colour
    PutChunk(&png, "IHDR", header, sizeof header);
    uint8_t palette[256 * 3];
    for (int32_t i = 0; i < 256; ++i) {
        palette[3 * i] = colours[i][2];
        palette[3 * i + 1] = colours[i][1];
        palette[3 * i + 2] = colours[i][0];
    }
    PutChunk(&png, "PLTE", palette, sizeof palette);

    // The zlib stream: deflate with a 32 KiB window, no dictionary.
    std::vector<uint8_t> zlib = {0x78, 0xDA};
    Deflate(raw.data(), raw.size(), &zlib);
    PutBig32(&zlib, Adler32(raw.data(), raw.size()));
    PutChunk(&png, "IDAT", zlib.data(), zlib.size());
    PutChunk(&png, "IEND", nullptr, 0);
    return png;
}
