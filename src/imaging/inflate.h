// A pull decompressor for one zlib stream (RFC 1950) of DEFLATE data
// (RFC 1951). The caller asks for exactly the bytes it needs next (the PNG
// decoder: one row at a time) and they are written straight into the
// caller's buffer; only the last 32 KB of output are kept, as the window that
// later matches copy from. The compressed input arrives in pieces (the PNG
// decoder's IDAT chunks) through a callback, and every piece boundary may
// fall anywhere: inside a code, a stored block's LEN/NLEN, or a match.
#pragma once
#include <windows.h>

#include "imaging/kernels.h"

// Hands the decompressor the next piece of compressed input once the current
// one is used up. Returns 1 with *next and *end set (an empty piece is
// allowed), 0 when the stream has no more input, -1 when fetching it failed
// (the caller has recorded why).
typedef int (*INFLATE_INPUT)(void* context, const BYTE** next, const BYTE** end);

enum : DWORD {
    INFLATE_OK = 0,
    INFLATE_ERR_DATA = 1,       // not a valid zlib/DEFLATE stream
    INFLATE_ERR_INPUT = 2,      // the input callback failed
    INFLATE_ERR_TRUNCATED = 3,  // the stream ended before what was asked for
    INFLATE_ERR_MEMORY = 4,     // the window could not be allocated
    INFLATE_ERR_CHECKSUM = 5,   // the Adler-32 trailer does not match
};

// Bytes a caller may let the decompressor scribble on past the end of the
// destination (see Inflate_Read); copying whole words is faster.
constexpr DWORD INFLATE_SLACK = 16;

struct INFLATE_STATE {
    // Input: the current piece and a bit buffer of one machine word,
    // least significant bit first. Once the input has run out, zero bytes
    // are fed instead so that codes can still be looked up a whole table
    // width at a time; 'overread' counts them, and consuming any of their bits
    // means the stream was cut short.
    const BYTE* inNext;
    const BYTE* inEnd;
    IMG_BITWORD bitBuf;
    DWORD bitsLeft;
    DWORD overread;
    INFLATE_INPUT moreInput;
    void* inputContext;
    BOOL inputEnded;

    // The heap block that holds the window and the dynamic code tables.
    BYTE* block;
    BYTE* window;          // the last 32 KB of output, circular
    DWORD windowPos;       // where the next output byte goes in the window
    const DWORD* litlen;   // literal/length decode table in force
    const DWORD* dist;     // distance decode table in force

    DWORD mode;            // what comes next in the stream (see inflate.cpp)
    BOOL finalBlock;       // BFINAL of the current block
    DWORD storedLeft;      // bytes left in the current stored block
    DWORD matchLeft;       // bytes of a match not yet delivered
    DWORD matchDist;       // its distance
    DWORD adler;           // running Adler-32 of everything delivered
    DWORD error;           // INFLATE_ERR_*, sticky
};

// Starts a stream whose first piece of input is [next, end): allocates the
// window and reads the zlib header. FALSE (with 'error' set) on a bad header,
// a failed allocation or missing input. The state must be zeroed before.
BOOL Inflate_Start(INFLATE_STATE* s, const BYTE* next, const BYTE* end, INFLATE_INPUT moreInput, void* context);

// Produces the next n bytes of decompressed data into dest. The result is n,
// fewer if the stream's last block ended first, or 0 with 'error' set. With
// slack = INFLATE_SLACK the bytes dest[n .. n + slack) may be overwritten.
DWORD Inflate_Read(INFLATE_STATE* s, BYTE* dest, DWORD n, DWORD slack);

// Once the caller has all it wants: decodes on to the end of the stream if no
// more data comes before it and checks the Adler-32 trailer. 1 when the
// trailer was read and matches; 0 when it was not reached (more data follows,
// or the input ends first); -1 with 'error' set on a data or checksum error.
int Inflate_Finish(INFLATE_STATE* s);

// Frees the window and tables; the state may then be zeroed and reused.
void Inflate_End(INFLATE_STATE* s);
