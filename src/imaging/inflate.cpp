// DEFLATE decompression, table driven: a code is resolved with one lookup of
// the next 11 (literal/length) or 8 (distance) bits, plus one more lookup in
// a small second-level table for the rare longer codes. A table entry carries
// everything needed to finish the symbol: the literal, or the length or
// distance base with its number of extra bits, and how many bits to drop.
#include "imaging/inflate.h"

#include "imaging/checksum.h"

#include <cstring>

namespace {

// ---- decode tables -------------------------------------------------------------
//
// Entry layout (32 bits):
//   bits 0-7   bits to drop: code length plus extra bits; for a link to a
//              second-level table, the first-level table's width
//   bits 8-11  code length (where the extra bits start); for a link, the
//              number of bits that index the second-level table
//   bits 12-15 kind flags below
//   bits 16-31 literal byte, length or distance base, precode symbol, or the
//              start of the second-level table
constexpr DWORD kLiteral = 0x8000;
constexpr DWORD kSubtable = 0x4000;
constexpr DWORD kEndOfBlock = 0x2000;
constexpr DWORD kInvalid = 0x1000;
constexpr DWORD kExceptional = kSubtable | kEndOfBlock | kInvalid;

constexpr DWORD kLitlenBits = 11;
constexpr DWORD kDistBits = 8;
constexpr DWORD kPrecodeBits = 7;
// The largest tables any complete code can need with these first-level widths
// (the same bounds as other table-driven inflaters, found by enumerating all
// codes); the builder still checks against them.
constexpr DWORD kLitlenEnough = 2342;
constexpr DWORD kDistEnough = 402;
constexpr DWORD kPrecodeEnough = 128;

constexpr DWORD kMaxCodeLength = 15;
constexpr DWORD kWindowSize = 32768;
constexpr DWORD kWindowMask = kWindowSize - 1;

constexpr WORD kLengthBase[29] = { 3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258 };
constexpr BYTE kLengthExtra[29] = { 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0 };
constexpr WORD kDistBase[30] = { 1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                 193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577 };
constexpr BYTE kDistExtra[30] = { 0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                  6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13 };
constexpr BYTE kPrecodeOrder[19] = { 16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15 };

// What each symbol decodes to, before the code length is merged in.
template <DWORD N>
struct SymbolResults {
    DWORD r[N];
};

constexpr SymbolResults<288> MakeLitlenResults()
{
    SymbolResults<288> s{};
    for (DWORD i = 0; i < 256; ++i)
        s.r[i] = (i << 16) | kLiteral;
    s.r[256] = kEndOfBlock;
    for (DWORD i = 0; i < 29; ++i)
        s.r[257 + i] = ((DWORD)kLengthBase[i] << 16) | kLengthExtra[i];
    s.r[286] = s.r[287] = kInvalid;  // have codes in the fixed code but mean nothing
    return s;
}

constexpr SymbolResults<32> MakeDistResults()
{
    SymbolResults<32> s{};
    for (DWORD i = 0; i < 30; ++i)
        s.r[i] = ((DWORD)kDistBase[i] << 16) | kDistExtra[i];
    s.r[30] = s.r[31] = kInvalid;
    return s;
}

constexpr SymbolResults<19> MakePrecodeResults()
{
    SymbolResults<19> s{};
    for (DWORD i = 0; i < 19; ++i)
        s.r[i] = i << 16;
    return s;
}

constexpr SymbolResults<288> kLitlenResults = MakeLitlenResults();
constexpr SymbolResults<32> kDistResults = MakeDistResults();
constexpr SymbolResults<19> kPrecodeResults = MakePrecodeResults();

constexpr DWORD ReverseBits(DWORD code, DWORD length)
{
    DWORD r = 0;
    for (DWORD i = 0; i < length; ++i) {
        r = (r << 1) | (code & 1);
        code >>= 1;
    }
    return r;
}

// Builds the decode table of a canonical Huffman code from its code lengths
// (RFC 1951 3.2.2). Codes are sent most significant bit first but the bit
// buffer is read from its low end, so every code is entered bit-reversed,
// repeated over all values of the bits that follow it.
//
// Over-subscribed codes are refused. Incomplete codes are refused too, except
// an empty code and a single code of one bit (what an encoder writes for a
// block with no or one distance); the unused half of such a code decodes to
// an invalid entry, so a bit pattern that matches nothing is a data error.
constexpr bool BuildTable(DWORD* table, DWORD capacity, const BYTE* lengths, DWORD count,
                          const DWORD* results, DWORD tableBits)
{
    DWORD lengthCount[kMaxCodeLength + 1] = {};
    for (DWORD i = 0; i < count; ++i)
        ++lengthCount[lengths[i]];

    int left = 1;
    DWORD maxLength = 0;
    for (DWORD len = 1; len <= kMaxCodeLength; ++len) {
        left = (left << 1) - (int)lengthCount[len];
        if (left < 0)
            return false;
        if (lengthCount[len])
            maxLength = len;
    }
    const DWORD mainSize = 1u << tableBits;
    if (left > 0) {
        if (maxLength > 1)
            return false;
        for (DWORD i = 0; i < mainSize; ++i)
            table[i] = kInvalid;
    }

    // Symbols sorted by code length, then by value: their canonical order.
    DWORD offset[kMaxCodeLength + 2] = {};
    for (DWORD len = 1; len <= kMaxCodeLength; ++len)
        offset[len + 1] = offset[len] + lengthCount[len];
    WORD sorted[288] = {};
    for (DWORD sym = 0; sym < count; ++sym)
        if (lengths[sym])
            sorted[offset[lengths[sym]]++] = (WORD)sym;
    const DWORD coded = count - lengthCount[0];

    DWORD code = 0;
    DWORD codeLength = 1;
    DWORD nextFree = mainSize;
    DWORD prefix = ~0u;
    DWORD subStart = 0;
    DWORD subBits = 0;
    for (DWORD i = 0; i < coded; ++i) {
        const DWORD sym = sorted[i];
        const DWORD len = lengths[sym];
        while (codeLength < len) {
            code <<= 1;
            ++codeLength;
        }
        const DWORD reversed = ReverseBits(code, len);
        const DWORD result = results[sym];
        if (len <= tableBits) {
            const DWORD entry = result + (len << 8) + len;
            for (DWORD j = reversed; j < mainSize; j += 1u << len)
                table[j] = entry;
        } else {
            const DWORD first = reversed & (mainSize - 1);
            if (first != prefix) {
                // A new second-level table: just wide enough for the codes
                // that share these first bits (they come next in order).
                prefix = first;
                subBits = len - tableBits;
                int room = 1 << subBits;
                for (DWORD l = len;; ) {
                    room -= (int)lengthCount[l];
                    if (room <= 0 || l == maxLength)
                        break;
                    ++l;
                    ++subBits;
                    room <<= 1;
                }
                if (nextFree + (1u << subBits) > capacity)
                    return false;
                subStart = nextFree;
                nextFree += 1u << subBits;
                table[first] = (subStart << 16) | kSubtable | (subBits << 8) | tableBits;
            }
            const DWORD rest = len - tableBits;
            const DWORD entry = result + (rest << 8) + rest;
            for (DWORD j = reversed >> tableBits; j < (1u << subBits); j += 1u << rest)
                table[subStart + j] = entry;
        }
        --lengthCount[len];
        ++code;
    }
    return true;
}

template <DWORD N>
struct FixedTable {
    DWORD t[N];
};

constexpr FixedTable<1u << kLitlenBits> MakeFixedLitlen()
{
    FixedTable<1u << kLitlenBits> t{};
    BYTE lengths[288] = {};
    for (DWORD i = 0; i < 288; ++i)
        lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    BuildTable(t.t, 1u << kLitlenBits, lengths, 288, kLitlenResults.r, kLitlenBits);
    return t;
}

constexpr FixedTable<1u << kDistBits> MakeFixedDist()
{
    FixedTable<1u << kDistBits> t{};
    BYTE lengths[32] = {};
    for (DWORD i = 0; i < 32; ++i)
        lengths[i] = 5;
    BuildTable(t.t, 1u << kDistBits, lengths, 32, kDistResults.r, kDistBits);
    return t;
}

// The fixed code of block type 1, built once at compile time.
constexpr FixedTable<1u << kLitlenBits> kFixedLitlen = MakeFixedLitlen();
constexpr FixedTable<1u << kDistBits> kFixedDist = MakeFixedDist();
static_assert(kFixedLitlen.t[0] == (kEndOfBlock | (7 << 8) | 7), "code 0000000 is end of block");
static_assert(kFixedDist.t[0] == ((1u << 16) | (5 << 8) | 5), "code 00000 is distance 1");

// The heap block of one stream: window first, then the dynamic tables.
struct StreamBlock {
    BYTE window[kWindowSize];
    DWORD litlen[kLitlenEnough];
    DWORD dist[kDistEnough];
};

enum : DWORD {
    kModeBlockHeader = 0,
    kModeStored = 1,
    kModeHuffman = 2,
    kModeDone = 3,
};

// ---- bit input ----------------------------------------------------------------

inline unsigned long long Load64(const BYTE* p)
{
    unsigned long long v;
    memcpy(&v, p, 8);  // little-endian machines only
    return v;
}

inline void Store64(BYTE* p, unsigned long long v) { memcpy(p, &v, 8); }

inline IMG_BITWORD LoadWord(const BYTE* p)
{
    IMG_BITWORD v;
    memcpy(&v, p, sizeof v);
    return v;
}

// n below the word's width.
inline IMG_BITWORD LowBits(IMG_BITWORD v, DWORD n) { return v & (((IMG_BITWORD)1 << n) - 1); }

// The most bits Need may be asked for: a byte is added while fewer are held,
// so the buffer then holds up to 7 more, and all must fit in the word.
constexpr DWORD kMaxNeed = kImgWordBits - 7;

void Fail(INFLATE_STATE* s, DWORD error)
{
    if (!s->error)
        s->error = error;
}

// True once bits of the zero padding fed after the input ran out have been
// consumed: the stream is shorter than the reader needed.
inline bool ConsumedPadding(const INFLATE_STATE* s) { return s->overread * 8 > s->bitsLeft; }

// A rule broken once the reader has run past the end of the input was
// broken by the zero bytes fed in its place: the stream was cut short, not
// damaged.
void FailData(INFLATE_STATE* s) { Fail(s, ConsumedPadding(s) ? INFLATE_ERR_TRUNCATED : INFLATE_ERR_DATA); }

bool NextPiece(INFLATE_STATE* s)
{
    if (s->inputEnded)
        return false;
    int r = s->moreInput ? s->moreInput(s->inputContext, &s->inNext, &s->inEnd) : 0;
    if (r > 0)
        return true;
    s->inputEnded = TRUE;
    s->inNext = s->inEnd = nullptr;
    if (r < 0)
        Fail(s, INFLATE_ERR_INPUT);
    return false;
}

// Makes at least n (up to kMaxNeed) bits available, crossing into the next
// piece of input as needed and padding with zero bytes past the end of the
// input. False only when fetching input failed (the error is set).
bool Need(INFLATE_STATE* s, DWORD n)
{
    while (s->bitsLeft < n) {
        if (s->inNext == s->inEnd && !NextPiece(s)) {
            if (s->error)
                return false;
            if (ConsumedPadding(s)) {
                Fail(s, INFLATE_ERR_TRUNCATED);
                return false;
            }
            ++s->overread;
            s->bitsLeft += 8;
            continue;
        }
        if (s->inNext == s->inEnd)
            continue;  // an empty piece
        s->bitBuf |= (IMG_BITWORD)*s->inNext++ << s->bitsLeft;
        s->bitsLeft += 8;
    }
    return true;
}

inline DWORD Take(INFLATE_STATE* s, DWORD n)
{
    DWORD v = (DWORD)LowBits(s->bitBuf, n);
    s->bitBuf >>= n;
    s->bitsLeft -= n;
    return v;
}

// Looks up the next symbol, with `needed` bits available; a code that goes
// on in a second-level table has its first-level bits dropped here.
DWORD DecodeEntry(INFLATE_STATE* s, const DWORD* table, DWORD tableBits, DWORD needed)
{
    static_assert(kMaxCodeLength + 5 <= kMaxNeed, "a literal/length code with its extra bits fits in a word");
    if (!Need(s, needed))
        return kInvalid;
    DWORD e = table[LowBits(s->bitBuf, tableBits)];
    if (e & kSubtable) {
        Take(s, tableBits);
        e = table[(e >> 16) + LowBits(s->bitBuf, (e >> 8) & 0xF)];
    }
    return e;
}

// Drops the code of entry e and returns its value plus extra bits, which
// must be in the buffer.
inline DWORD ConsumeEntry(INFLATE_STATE* s, DWORD e)
{
    const DWORD total = e & 0xFF;
    const DWORD codeLength = (e >> 8) & 0xF;
    DWORD extra = (DWORD)LowBits(s->bitBuf, total) >> codeLength;
    s->bitBuf >>= total;
    s->bitsLeft -= total;
    return (e >> 16) + extra;
}

// ---- block headers ---------------------------------------------------------------

void ReadDynamicHeader(INFLATE_STATE* s)
{
    if (!Need(s, 14))
        return;
    const DWORD nLitlen = Take(s, 5) + 257;
    const DWORD nDist = Take(s, 5) + 1;
    const DWORD nPrecode = Take(s, 4) + 4;

    BYTE precodeLengths[19] = {};
    for (DWORD i = 0; i < nPrecode; ++i) {
        if (!Need(s, 3))
            return;
        precodeLengths[kPrecodeOrder[i]] = (BYTE)Take(s, 3);
    }
    DWORD precode[kPrecodeEnough];
    if (!BuildTable(precode, kPrecodeEnough, precodeLengths, 19, kPrecodeResults.r, kPrecodeBits)) {
        FailData(s);
        return;
    }

    // The literal/length and distance lengths form one sequence: a repeat may
    // run from one into the other. One that would run past the end stops there.
    BYTE lengths[288 + 32];
    const DWORD total = nLitlen + nDist;
    for (DWORD i = 0; i < total;) {
        const DWORD e = DecodeEntry(s, precode, kPrecodeBits, 7 + 7);
        if (e & kInvalid) {
            FailData(s);
            return;
        }
        const DWORD sym = ConsumeEntry(s, e);
        if (sym < 16) {
            lengths[i++] = (BYTE)sym;
            continue;
        }
        BYTE value = 0;
        DWORD repeat;
        if (sym == 16) {
            if (i == 0) {
                FailData(s);
                return;
            }
            value = lengths[i - 1];
            repeat = 3 + Take(s, 2);
        } else if (sym == 17) {
            repeat = 3 + Take(s, 3);
        } else {
            repeat = 11 + Take(s, 7);
        }
        if (repeat > total - i)
            repeat = total - i;
        memset(lengths + i, value, repeat);
        i += repeat;
    }
    if (ConsumedPadding(s)) {
        Fail(s, INFLATE_ERR_TRUNCATED);
        return;
    }

    // A literal/length code without an end-of-block code can never end its block.
    StreamBlock* block = reinterpret_cast<StreamBlock*>(s->block);
    if (lengths[256] == 0 ||
        !BuildTable(block->litlen, kLitlenEnough, lengths, nLitlen, kLitlenResults.r, kLitlenBits) ||
        !BuildTable(block->dist, kDistEnough, lengths + nLitlen, nDist, kDistResults.r, kDistBits)) {
        FailData(s);
        return;
    }
    s->litlen = block->litlen;
    s->dist = block->dist;
    s->mode = kModeHuffman;
}

void ReadBlockHeader(INFLATE_STATE* s)
{
    if (!Need(s, 3))
        return;
    s->finalBlock = Take(s, 1);
    switch (Take(s, 2)) {
    case 0: {
        Take(s, s->bitsLeft & 7);  // stored data starts on a byte boundary
        if (!Need(s, 16))
            return;
        const DWORD len = Take(s, 16);
        if (!Need(s, 16))
            return;
        const DWORD nlen = Take(s, 16);
        if (len != (~nlen & 0xFFFF)) {
            FailData(s);
            return;
        }
        s->storedLeft = len;
        s->mode = len ? kModeStored : (s->finalBlock ? kModeDone : kModeBlockHeader);
        break;
    }
    case 1:
        s->litlen = kFixedLitlen.t;
        s->dist = kFixedDist.t;
        s->mode = kModeHuffman;
        break;
    case 2:
        ReadDynamicHeader(s);
        break;
    default:
        FailData(s);
        return;
    }
    if (ConsumedPadding(s))
        Fail(s, INFLATE_ERR_TRUNCATED);
}

void EndBlock(INFLATE_STATE* s) { s->mode = s->finalBlock ? kModeDone : kModeBlockHeader; }

// ---- output -------------------------------------------------------------------------

// Copies a match of len bytes at distance dist to out. The caller's buffer
// [dest, out) holds this call's output so far; anything further back is in
// the window. Copies are exact: nothing is written past out + len. (The
// callers advance their own pointer: one passed by reference would make the
// fast loop keep its output pointer in memory.)
QX_NOINLINE void CopyMatch(INFLATE_STATE* s, const BYTE* dest, BYTE* out, DWORD len, DWORD dist)
{
    const DWORD produced = (DWORD)(out - dest);
    if (dist > produced) {
        // A distance reaching back before the first output byte reads the
        // window's initial zeros, as the window starts cleared.
        const DWORD back = dist - produced;
        const DWORD pos = (s->windowPos - back) & kWindowMask;
        const DWORD take = back < len ? back : len;
        const DWORD first = take < kWindowSize - pos ? take : kWindowSize - pos;
        memcpy(out, s->window + pos, first);
        memcpy(out + first, s->window, take - first);
        out += take;
        len -= take;
    }
    const BYTE* src = out - dist;
    if (dist >= len) {
        memcpy(out, src, len);
        out += len;
    } else {
        BYTE* end = out + len;
        while (out < end)
            *out++ = *src++;
    }
}

void CopyStored(INFLATE_STATE* s, BYTE*& out, BYTE* outEnd)
{
    while (s->storedLeft && out < outEnd) {
        if (s->bitsLeft) {
            // Whole bytes still in the bit buffer come first (only real
            // input: padding here means the block was cut short).
            if (s->bitsLeft <= s->overread * 8) {
                Fail(s, INFLATE_ERR_TRUNCATED);
                return;
            }
            *out++ = (BYTE)Take(s, 8);
            --s->storedLeft;
            continue;
        }
        s->bitBuf = 0;  // bits the buffer held beyond its count are now stale
        if (s->inNext == s->inEnd) {
            if (!NextPiece(s)) {
                Fail(s, INFLATE_ERR_TRUNCATED);
                return;
            }
            continue;
        }
        DWORD n = s->storedLeft;
        if ((SIZE_T)(outEnd - out) < n)
            n = (DWORD)(outEnd - out);
        if ((SIZE_T)(s->inEnd - s->inNext) < n)
            n = (DWORD)(s->inEnd - s->inNext);
        memcpy(out, s->inNext, n);
        out += n;
        s->inNext += n;
        s->storedLeft -= n;
    }
    if (!s->storedLeft)
        EndBlock(s);
}

// Decodes one symbol of a Huffman block the careful way: input may cross
// into the next piece, and a match may not fit into what is left to produce.
void DecodeSlow(INFLATE_STATE* s, const BYTE* dest, BYTE*& out, BYTE* outEnd)
{
    DWORD e = DecodeEntry(s, s->litlen, kLitlenBits, kMaxCodeLength + 5);
    if (s->error)
        return;
    if (e & kLiteral) {
        ConsumeEntry(s, e);
        *out++ = (BYTE)(e >> 16);
        return;
    }
    if (e & kExceptional) {
        if (e & kEndOfBlock) {
            ConsumeEntry(s, e);
            EndBlock(s);
        } else {
            FailData(s);
        }
        return;
    }
    const DWORD len = ConsumeEntry(s, e);
    // A distance code and its extra bits (28) may not fit in a 32-bit word
    // at once: the extra bits are made available after the code.
    e = DecodeEntry(s, s->dist, kDistBits, kMaxCodeLength);
    if (s->error)
        return;
    if (e & kExceptional) {
        FailData(s);
        return;
    }
    if (!Need(s, e & 0xFF))
        return;
    const DWORD dist = ConsumeEntry(s, e);
    const DWORD room = (DWORD)(outEnd - out);
    const DWORD now = len < room ? len : room;
    CopyMatch(s, dest, out, now, dist);
    out += now;
    s->matchLeft = len - now;
    s->matchDist = dist;
}

// The main loop: runs while at least kFastInput bytes of the current piece
// remain, so the refills need no bound check on the input. It comes in two
// forms from one body. The roomy form runs while the output has room for the
// longest step and the word copies' spill, so a symbol needs no check of
// the output at all; the careful form takes the last stretch before the end
// of what was asked for and splits a match that does not fit. Both return
// when the block ends, a match does not fit, or the input gets short; the
// roomy one also when it reaches the last stretch.
//
// The next literal/length entry is looked up before the current match is
// copied, so the table access overlaps the copy, and before the refill that
// follows it: a refill writes only bits the word already holds (see
// QX_REFILL), so the lookup need not wait for the refill's load.
constexpr SIZE_T kFastInput = 32;
// One step of the loop writes at most two literals and then a match.
constexpr SIZE_T kMaxStep = 2 + 258;
// A match copied in words writes at most 7 bytes past its end, and never
// fewer than 32 bytes in all.
constexpr SIZE_T kCopySpill = 7;
constexpr SIZE_T kCopyMinimum = 32;
// For distances 2 to 7, the shortest whole number of periods that fills a
// word (a division per match would cost more than the copy).
constexpr BYTE kWholePeriods[8] = { 0, 0, 8, 9, 8, 10, 12, 14 };

// Refill to at least a word less a byte: 56 bits, enough for a literal/
// length code with its extra bits (20) and a distance code with its extra
// bits (28); or 24 in a 32-bit word, enough for either one alone, so the
// 32-bit loop refills between them (kWideWord). Whole bytes that no longer
// fit stay in the input; bits above the count hold a copy of the next input
// bits, which the next refill writes again unchanged, so a lookup made just
// after a refill, or with at least 11 bits of the word's content left, sees
// the right bits. Each refill needs a word of input: the loop checks for
// kFastInput bytes once per step, enough for the refills until the next check.
//
// Only the low bits of bitsLeft count in the loop (see QX_DROP), so every
// use of it masks them; the masks cost nothing where the shift instructions
// mask their count anyway.
#define QX_REFILL()                                                               \
    do {                                                                          \
        bitBuf |= LoadWord(in) << (bitsLeft & (kImgWordBits - 1));                \
        in += sizeof(IMG_BITWORD) - 1 - ((bitsLeft >> 3) & (sizeof(IMG_BITWORD) - 1)); \
        bitsLeft |= kImgWordBits - 8;                                             \
    } while (0)

// Ends a step that did not look up the next entry: leaves the loop where it
// must stop, else looks the entry up and refills.
#define QX_NEXT_STEP()                                \
    if (out >= outStop || in > inStop)                \
        break;                                        \
    e = litlen[LowBits(bitBuf, kLitlenBits)];         \
    QX_REFILL();                                      \
    continue

// Drops the bits of entry e. The whole entry is taken from bitsLeft, not
// just its low byte: the rest is a multiple of 256 and only disturbs bits
// the loop never reads, and the byte need not be extracted first.
#define QX_DROP(e)              \
    do {                        \
        bitBuf >>= (e) & 0xFF;  \
        bitsLeft -= (e);        \
    } while (0)

constexpr bool kWideWord = kImgWordBits >= 64;
constexpr SIZE_T kRefillsPerStep = kWideWord ? 3 : 4;
static_assert((kRefillsPerStep - 1) * (sizeof(IMG_BITWORD) - 1) + sizeof(IMG_BITWORD) <= kFastInput,
              "input for the refills of one step");

template <bool kRoomy>
QX_INLINE void DecodeFastBody(INFLATE_STATE* s, const BYTE* dest, BYTE*& outRef, BYTE* outEnd, BYTE* slackEnd)
{
    const BYTE* in = s->inNext;
    BYTE* out = outRef;
    if ((SIZE_T)(s->inEnd - in) < kFastInput)
        return;
    // Where each form stops: the roomy one while a whole step and its spill
    // still fit; the careful one at the end of the output.
    BYTE* outStop = outEnd;
    if (kRoomy) {
        const SIZE_T spillRoom = (SIZE_T)(slackEnd - outEnd);
        const SIZE_T margin = spillRoom >= kCopySpill ? kMaxStep : kMaxStep + kCopySpill - spillRoom;
        if ((SIZE_T)(outEnd - out) <= margin)
            return;
        outStop = outEnd - margin;
    }
    if (out >= outStop)
        return;
    const BYTE* const inStop = s->inEnd - kFastInput;
    IMG_BITWORD bitBuf = s->bitBuf;
    DWORD bitsLeft = s->bitsLeft;
    const DWORD* const litlen = s->litlen;
    const DWORD* const distTable = s->dist;

    QX_REFILL();
    DWORD e = litlen[LowBits(bitBuf, kLitlenBits)];
    for (;;) {
        // The entry's bits are dropped before it is looked at, whatever it
        // turns out to be (a link drops the first-level bits), so the shift
        // need not wait for the tests.
        IMG_BITWORD saved = bitBuf;
        QX_DROP(e);
        if (e & kLiteral) {
            *out++ = (BYTE)(e >> 16);
            if (!kWideWord) {
                QX_NEXT_STEP();
            }
            // Two more codes come from the bits one refill leaves in a
            // 64-bit word (56: two literals of up to 11 bits and a length
            // code with its extra bits, 20, leave 14; the distance refills
            // when it needs to). A third literal ends the step.
            e = litlen[LowBits(bitBuf, kLitlenBits)];
            if (!kRoomy && out >= outEnd)
                break;
            saved = bitBuf;
            QX_DROP(e);
            if (e & kLiteral) {
                *out++ = (BYTE)(e >> 16);
                e = litlen[LowBits(bitBuf, kLitlenBits)];
                if (!kRoomy && out >= outEnd)
                    break;
                saved = bitBuf;
                QX_DROP(e);
                if (e & kLiteral) {
                    *out++ = (BYTE)(e >> 16);
                    QX_NEXT_STEP();
                }
            }
        }
        if (e & kExceptional) {
            if (e & kSubtable) {
                // A code longer than the first level: its remaining bits
                // index the second-level table, whose entry is final.
                e = litlen[(e >> 16) + LowBits(bitBuf, (e >> 8) & 0xF)];
                saved = bitBuf;
                QX_DROP(e);
                if (e & kLiteral) {
                    *out++ = (BYTE)(e >> 16);
                    QX_NEXT_STEP();
                }
            }
            if (e & kExceptional) {
                if (e & kEndOfBlock)
                    EndBlock(s);
                else
                    Fail(s, INFLATE_ERR_DATA);
                break;
            }
        }
        // A length or distance entry has no flags, so the byte above the
        // bit count is the code length alone.
        const DWORD len = (e >> 16) + ((DWORD)LowBits(saved, e & 0xFF) >> (BYTE)(e >> 8));

        // The distance entry is looked up first: at most 42 bits have been
        // taken since the last refill (two literals and a length), so the
        // word still holds its 8. A distance code with its extra bits takes
        // up to 28 bits, and the next step's entry is looked up before the
        // refill that follows the distance, so 11 more bits must remain in
        // the word's content, which holds at least one bit more than
        // bitsLeft counts.
        e = distTable[LowBits(bitBuf, kDistBits)];
        if (!kWideWord || (bitsLeft & 0xFF) < kMaxCodeLength + 13 + kLitlenBits - 1)
            QX_REFILL();
        if (e & kExceptional) {
            if (!(e & kSubtable)) {
                Fail(s, INFLATE_ERR_DATA);
                break;
            }
            bitBuf >>= kDistBits;
            bitsLeft -= kDistBits;
            if (!kWideWord)
                QX_REFILL();
            e = distTable[(e >> 16) + LowBits(bitBuf, (e >> 8) & 0xF)];
        }
        saved = bitBuf;
        QX_DROP(e);
        const DWORD dist = (e >> 16) + ((DWORD)LowBits(saved, e & 0xFF) >> (BYTE)(e >> 8));

        if ((!kRoomy && len > (DWORD)(outEnd - out)) || dist > (DWORD)(out - dest)) {
            // Not all of it fits, or it starts in the window: the exact copy.
            DWORD now = len;
            if (!kRoomy && now > (DWORD)(outEnd - out))
                now = (DWORD)(outEnd - out);
            CopyMatch(s, dest, out, now, dist);
            out += now;
            if (!kRoomy && now < len) {
                s->matchLeft = len - now;
                s->matchDist = dist;
                break;
            }
            QX_NEXT_STEP();
        }

        // Input is left for another refill (see kFastInput): refill
        // again and look up the next symbol now.
        e = litlen[LowBits(bitBuf, kLitlenBits)];
        QX_REFILL();
        const BYTE* src = out - dist;
        BYTE* const end = out + len;
        if (kRoomy || (SIZE_T)(slackEnd - out) >= kCopyMinimum + kCopySpill + len) {
            // Whole words, the first 32 bytes unconditionally (most
            // matches are shorter); the last word may spill up to 7
            // bytes past the match, which the caller allows or later
            // output overwrites.
            if (dist >= 8) {
                Store64(out, Load64(src));
                Store64(out + 8, Load64(src + 8));
                Store64(out + 16, Load64(src + 16));
                Store64(out + 24, Load64(src + 24));
                if (len > 32) {
                    out += 32;
                    src += 32;
                    do {
                        Store64(out, Load64(src));
                        out += 8;
                        src += 8;
                    } while (out < end);
                }
            } else if (dist == 1) {
                const unsigned long long v = 0x0101010101010101ull * *src;
                Store64(out, v);
                Store64(out + 8, v);
                Store64(out + 16, v);
                Store64(out + 24, v);
                if (len > 32) {
                    out += 32;
                    do {
                        Store64(out, v);
                        out += 8;
                    } while (out < end);
                }
            } else {
                // A short period: the first bytes one at a time, then
                // words from a whole number of periods back (8 or more).
                const DWORD span = kWholePeriods[dist];
                BYTE* const wordStart = out + (span - dist);
                while (out < wordStart && out < end)
                    *out++ = *src++;
                if (out - dest >= (ptrdiff_t)span) {
                    src = out - span;
                    while (out < end) {
                        Store64(out, Load64(src));
                        out += 8;
                        src += 8;
                    }
                } else {
                    while (out < end)
                        *out++ = *src++;
                }
            }
            out = end;
        } else {
            while (out < end)
                *out++ = *src++;
        }
        // The refill before the copy left enough bits for the next step.
        if (out >= outStop || in > inStop)
            break;
    }

    s->inNext = in;
    s->bitBuf = bitBuf;
    s->bitsLeft = bitsLeft & 0xFF;
    outRef = out;
}

#undef QX_NEXT_STEP
#undef QX_DROP
#undef QX_REFILL

// The roomy form, then the careful one for what is left of the read.
QX_INLINE void DecodeFastForms(INFLATE_STATE* s, const BYTE* dest, BYTE*& out, BYTE* outEnd, BYTE* slackEnd)
{
    DecodeFastBody<true>(s, dest, out, outEnd, slackEnd);
    if (s->mode == kModeHuffman && !s->matchLeft && !s->error)
        DecodeFastBody<false>(s, dest, out, outEnd, slackEnd);
}

void DecodeFastPlain(INFLATE_STATE* s, const BYTE* dest, BYTE*& out, BYTE* outEnd, BYTE* slackEnd)
{
    DecodeFastForms(s, dest, out, outEnd, slackEnd);
}

// The loop shifts by variable amounts all the time; where the processor has
// BMI2 those are single instructions, so the loop is compiled twice.
// Everything else is the same code.
#if defined(QX_X86)
QX_TARGET_BMI2 void DecodeFastBmi2(INFLATE_STATE* s, const BYTE* dest, BYTE*& out, BYTE* outEnd, BYTE* slackEnd)
{
    DecodeFastForms(s, dest, out, outEnd, slackEnd);
}
#endif

void UpdateWindow(INFLATE_STATE* s, const BYTE* data, DWORD size)
{
    if (size >= kWindowSize) {
        memcpy(s->window, data + size - kWindowSize, kWindowSize);
        s->windowPos = 0;
        return;
    }
    const DWORD first = size < kWindowSize - s->windowPos ? size : kWindowSize - s->windowPos;
    memcpy(s->window + s->windowPos, data, first);
    memcpy(s->window, data + first, size - first);
    s->windowPos = (s->windowPos + size) & kWindowMask;
}

} // namespace

BOOL Inflate_Start(INFLATE_STATE* s, const BYTE* next, const BYTE* end, INFLATE_INPUT moreInput, void* context)
{
    s->inNext = next;
    s->inEnd = end;
    s->moreInput = moreInput;
    s->inputContext = context;
    s->adler = 1;
    s->mode = kModeBlockHeader;
    s->block = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(StreamBlock)));
    if (!s->block) {
        Fail(s, INFLATE_ERR_MEMORY);
        return FALSE;
    }
    s->window = reinterpret_cast<StreamBlock*>(s->block)->window;

    if (!Need(s, 16))
        return FALSE;
    if (s->overread) {  // fewer than two bytes of input
        Fail(s, INFLATE_ERR_TRUNCATED);
        return FALSE;
    }
    const DWORD cmf = Take(s, 8);
    const DWORD flg = Take(s, 8);
    // Method 8 (DEFLATE), a window of at most 32 KB, the check bits right,
    // and no preset dictionary (there is none to give).
    if ((cmf & 0x0F) != 8 || (cmf >> 4) > 7 || (cmf * 256 + flg) % 31 != 0 || (flg & 0x20)) {
        Fail(s, INFLATE_ERR_DATA);
        return FALSE;
    }
    return TRUE;
}

DWORD Inflate_Read(INFLATE_STATE* s, BYTE* dest, DWORD n, DWORD slack)
{
    if (s->error || !s->block)
        return 0;
    BYTE* out = dest;
    BYTE* const outEnd = dest + n;
    while (out < outEnd && !s->error) {
        if (s->matchLeft) {
            const DWORD room = (DWORD)(outEnd - out);
            const DWORD now = s->matchLeft < room ? s->matchLeft : room;
            CopyMatch(s, dest, out, now, s->matchDist);
            out += now;
            s->matchLeft -= now;
            continue;
        }
        if (s->mode == kModeHuffman) {
            Img_GetKernels()->inflateFast(s, dest, out, outEnd, outEnd + slack);
            if (out < outEnd && s->mode == kModeHuffman && !s->matchLeft && !s->error)
                DecodeSlow(s, dest, out, outEnd);
        } else if (s->mode == kModeBlockHeader) {
            ReadBlockHeader(s);
        } else if (s->mode == kModeStored) {
            CopyStored(s, out, outEnd);
        } else {
            break;  // the last block has ended
        }
    }
    if (!s->error && ConsumedPadding(s))
        Fail(s, INFLATE_ERR_TRUNCATED);
    if (s->error)
        return 0;
    const DWORD produced = (DWORD)(out - dest);
    UpdateWindow(s, dest, produced);
    s->adler = Adler32Update(s->adler, dest, produced);
    return produced;
}

int Inflate_Finish(INFLATE_STATE* s)
{
    // Decode on through block ends and empty blocks; the first literal or
    // match means the stream holds more than was asked for, which is left
    // unread (the trailer cannot be reached without decoding it).
    while (!s->error && s->mode != kModeDone) {
        if (s->matchLeft || s->mode == kModeStored)
            return 0;
        if (s->mode == kModeBlockHeader) {
            ReadBlockHeader(s);
            continue;
        }
        const DWORD e = DecodeEntry(s, s->litlen, kLitlenBits, kMaxCodeLength);
        if (s->error)
            break;
        if (e & kEndOfBlock) {
            ConsumeEntry(s, e);
            EndBlock(s);
            continue;
        }
        if ((e & kInvalid) && !s->overread) {
            Fail(s, INFLATE_ERR_DATA);
            return -1;
        }
        return 0;
    }
    if (s->error) {
        // Running out of input on the way is not an error here: all the
        // caller wanted has been delivered, only the trailer is missing.
        if (s->error != INFLATE_ERR_INPUT && s->error != INFLATE_ERR_MEMORY && s->overread) {
            s->error = INFLATE_OK;
            return 0;
        }
        return -1;
    }
    Take(s, s->bitsLeft & 7);
    DWORD trailer = 0;
    for (int i = 0; i < 4; ++i) {
        if (!Need(s, 8))
            return -1;
        if (s->bitsLeft < 8 + s->overread * 8)
            return 0;
        trailer = (trailer << 8) | Take(s, 8);
    }
    if (trailer != s->adler) {
        Fail(s, INFLATE_ERR_CHECKSUM);
        return -1;
    }
    return 1;
}

void InflateChooseKernels(IMG_KERNELS* k)
{
    k->inflateFast = DecodeFastPlain;
#if defined(QX_X86)
    if (k->bmi2)
        k->inflateFast = DecodeFastBmi2;
#endif
}

void Inflate_End(INFLATE_STATE* s)
{
    if (s->block)
        HeapFree(GetProcessHeap(), 0, s->block);
    s->block = nullptr;
    s->window = nullptr;
    s->litlen = s->dist = nullptr;
}
