// The JPEG decoder's private records, shared by its two halves: the stream
// and entropy decoder (jpeg_stream.cpp) and the reconstruction and output
// (jpeg_reconstruct.cpp). Nothing here is used outside src/imaging and the
// tests.
#pragma once
#include "imaging/imaging.h"

#include <cstdint>

// Nine-bit lookahead: every code of up to 9 bits (all of the usual tables'
// frequent symbols) resolves with one table read; longer codes take the
// length-by-length walk.
constexpr int kJpegLookBits = 10;

constexpr int kJpegEndOfBlock = 64;

struct JPEG_HUFF_TABLE {
    BOOL defined;
    int32_t maxCode[17];   // by length 1..16; -1 when the length has no codes
    int32_t minCode[17];   // 257 when the length has no codes
    BYTE firstIndex[17];   // index in symbols[] of the length's first code
    BYTE symbols[256];
    int shortest;          // shortest length in use; 17 for an empty table
    BYTE tableClass;
    BYTE number;
    // Lookahead on the next 9 bits: (length << 8) | symbol, 0 when the code
    // is longer than 9 bits.
    uint16_t look[1 << kJpegLookBits];
    // Codes whose length plus extra bits fit in the lookahead, decoded whole:
    // value << 16 | run << 8 | total length; 0 = not here. DC tables: the
    // difference, run 0. AC tables: a coefficient and the zeros before it,
    // or the end of the block as run kJpegEndOfBlock with value 0.
    int32_t fast[1 << kJpegLookBits];
};

struct JPEG_QUANT_TABLE {
    WORD raw[64];          // as sent, zigzag order
    uint32_t scaled[64];   // natural order, 12 fraction bits, see JpegScaleQuant
    BOOL defined;
};

struct JPEG_COMPONENT {
    BYTE id;
    BYTE h, v;                 // sampling factors from the frame header
    BYTE vrep, hrep;           // replication: largest V / V, largest H / H
    uint32_t dcPred;           // DC predictor; wraps like the 32-bit register it models
    uint32_t eobRun;           // end-of-band run of progressive AC scans
    const JPEG_HUFF_TABLE* dc;
    const JPEG_HUFF_TABLE* ac;
    const JPEG_QUANT_TABLE* quant;
    uint32_t scanDown, scanAcross;   // blocks of a scan of this component alone
    uint32_t fullDown, fullAcross;   // blocks of the component's full grid
    BYTE* plane;                     // samples, 64 per block, blocks in row order
    uint32_t planeBase;              // first block row held in plane (see strips)
    int16_t* coef;                   // progressive only: 64 per block, natural order
    // Progressive only, one word per block in the same allocation as coef:
    // bit k set when the coefficient at zigzag position k (1 to 63) is not
    // 0, so that refinement scans find the coefficients with a history
    // without testing each in turn.
    uint64_t* nonzero;
};

struct JPEG_DECODER {
    BOOL error;
    BOOL eoiSeen;
    BOOL frameSeen;
    BOOL fileHeader;
    BOOL progressive;
    const char* refusal;    // first reason for the error, for tools

    // Stream position between segments.
    const BYTE* pos;
    const BYTE* end;

    uint32_t restartInterval;
    uint32_t expectedRestart;

    WORD width, height;
    BYTE maxH, maxV;
    uint32_t mcuWidth, mcuHeight;
    uint32_t mcusAcross, mcusDown;

    JPEG_COMPONENT comp[255];        // indexed by component identifier
    BYTE frameIds[3];
    int frameCount;
    JPEG_COMPONENT* scanComp[3];
    int scanCount;
    uint32_t ss, se, ah, al;

    JPEG_HUFF_TABLE dcTables[4];
    JPEG_HUFF_TABLE acTables[4];
    JPEG_QUANT_TABLE quantTables[4];

    // The block being decoded by a sequential scan, dequantised: all zero
    // between blocks (each block clears the rows it used).
    uint32_t block[64];

    uint32_t scansDecoded;
    // Strips: a sequential frame whose first scan holds every component keeps
    // only one MCU row of samples per component and converts each row into
    // the picture as soon as it is decoded, while it is still in the cache.
    // A second scan could change samples already converted and gone; the
    // decode then starts again with whole planes (retryWhole).
    BOOL strips;
    BOOL stripsDone;
    BOOL retryWhole;
    BOOL noStrips;
    BYTE* lines;            // line buffers of the colour conversion
    IMG_INFO* info;
    HDC dc;
    BITMAPINFO* header;
    BYTE* bits;
    HBITMAP dib;
    WORD outBitCount;
};

// The zigzag order: stream position k to natural (row-major) index.
extern const BYTE kJpegZigzag[64];

// ---- reconstruction (jpeg_reconstruct.cpp) ---------------------------------
// Fills the table's scaled values from its raw values.
void JpegScaleQuant(JPEG_QUANT_TABLE* table);
// Dequantises a block of coefficients (natural order) for the inverse
// transform (the kernels' idct): d = coefficient x scaled value, 32-bit.
// Returns the rows and columns that hold a coefficient other than 0 (bit r
// for row r, bit 8 + c for column c), as the idct takes them.
uint32_t JpegDequantise(const int16_t* coef, const uint32_t* scaled, uint32_t* d);
// The inverse transform of a block whose only value may be d0 (the
// dequantised DC coefficient): 8 rows of 8 equal samples.
void JpegIdctDcOnly(uint32_t d0, BYTE* out, int stride);
// Creates the output DIB section once the frame header is known.
BOOL JpegCreateOutput(JPEG_DECODER* d);
// After the last marker: progressive blocks, replication, colour conversion.
// False only when a line buffer cannot be had.
BOOL JpegBuildPicture(JPEG_DECODER* d);
// The line buffers the conversion needs (d->lines); false when out of memory.
BOOL JpegAllocLines(JPEG_DECODER* d);
// Converts picture rows y0 to y1 - 1 from the planes into the picture.
void JpegConvertRows(JPEG_DECODER* d, uint32_t y0, uint32_t y1);
// Largest buffer a decode will ask for; larger pictures are refused rather
// than letting a size wrap in 32 bits.
constexpr uint64_t kJpegMaxBuffer = 0x7FFFFFFF;
