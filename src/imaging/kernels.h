// The decoders' inner loops (inverse transform, colour conversion, PNG
// unfiltering, the checksums, the inflate loop) come in several forms: plain
// code that any x86 processor runs, and forms that use the vector
// instructions of newer ones. The shipped 32-bit module is compiled for any
// x86 (no SSE2 in its baseline), so the vector forms are marked with the
// instruction set they need and picked at run time: once, when the module
// first decodes a picture, from what the processor and the system support.
// Every form gives the same bytes as the plain one.
#pragma once
#include <windows.h>

#include <cstdint>

#if defined(__i386__) || defined(__x86_64__)
#define QX_X86 1
#endif

// A kernel and every helper it inlines carry the instruction set they use;
// helpers marked with a smaller set inline into kernels of a larger one.
#define QX_TARGET_SSE2 __attribute__((target("sse2")))
#define QX_TARGET_SSE41 __attribute__((target("ssse3,sse4.1")))
#define QX_TARGET_CLMUL __attribute__((target("sse2,pclmul")))
#define QX_TARGET_AVX2 __attribute__((target("avx2")))
#define QX_TARGET_BMI2 __attribute__((target("bmi,bmi2")))
#define QX_INLINE inline __attribute__((always_inline))
#define QX_NOINLINE __attribute__((noinline))

// Kernel levels; each includes the ones below it.
enum : int {
    IMG_KERNELS_SCALAR = 0,  // plain code: what a processor without SSE2 runs
    IMG_KERNELS_SSE2 = 1,
    IMG_KERNELS_SSE41 = 2,   // SSSE3 and SSE4.1; carry-less multiply where present
    IMG_KERNELS_AVX2 = 3,    // BMI2 where present
    IMG_KERNELS_LEVELS = 4,
};

struct INFLATE_STATE;

struct IMG_KERNELS {
    int level;
    bool clmul;   // the CRC by carry-less multiplication
    bool bmi2;    // the inflate loop with BMI2 shifts

    // JPEG (jpeg_reconstruct.cpp). Inverse transform of one dequantised block
    // (natural order, 32-bit values) into 8 rows `stride` bytes apart. Bit r
    // of `live` is set when row r may hold a value other than 0, bit 8 + c
    // when column c may; rows and columns whose bit is clear are 0 and need
    // not be read.
    void (*idct)(const uint32_t* d, uint32_t live, BYTE* out, int stride);
    // The chroma terms of n Cb and Cr samples: added to Y for blue and red,
    // subtracted for green.
    void (*chromaTerms)(const BYTE* cb, const BYTE* cr, uint32_t n, int16_t* b, int16_t* g, int16_t* r);
    // One row of Y plus chroma terms as blue, green, red; `step` 2 when each
    // term serves two pixels across.
    void (*colourRow)(const BYTE* y, const int16_t* b, const int16_t* g, const int16_t* r, uint32_t width,
                      uint32_t step, BYTE* out);
    // One row of full-resolution colour read straight from the three sample
    // planes (8 samples per block, blocks 64 bytes apart).
    void (*colourRow444)(const BYTE* yp, const BYTE* cbp, const BYTE* crp, uint32_t width, BYTE* out);
    // One row of grey samples as blue = green = red.
    void (*greyRow)(const BYTE* y, uint32_t width, BYTE* out);

    // PNG (png_filter.cpp): see Png_Unfilter; and 8-bit RGB to BGR.
    BOOL (*unfilter)(BYTE type, BYTE* row, const BYTE* prev, DWORD bytes, DWORD pixelBytes);
    void (*rgbToBgr)(const BYTE* src, DWORD pixels, BYTE* dst);

    // Checksums (checksum.cpp): see Crc32Update and Adler32Update.
    DWORD (*crc32)(DWORD crc, const BYTE* p, SIZE_T size);
    DWORD (*adler32)(DWORD adler, const BYTE* p, SIZE_T size);

    // The inflate loop (inflate.cpp).
    void (*inflateFast)(INFLATE_STATE* s, const BYTE* dest, BYTE*& out, BYTE* outEnd, BYTE* slackEnd);
};

// The kernels in force, chosen on the first call.
const IMG_KERNELS* Img_GetKernels();

// For tests and benchmarks only, never a setting: caps the kernel level
// (IMG_KERNELS_*; -1 lifts the cap) and returns the level now in force,
// which is lower than asked when the processor lacks the instructions.
int Img_ForceKernelLevel(int level);

// Each part fills in its own kernels for a level.
void JpegChooseKernels(IMG_KERNELS* k);
void PngChooseKernels(IMG_KERNELS* k);
void ChecksumChooseKernels(IMG_KERNELS* k);
void InflateChooseKernels(IMG_KERNELS* k);

// Bit buffers hold one machine word: 64 bits in the 64-bit build, 32 in the
// 32-bit one, where a 64-bit buffer would live in a pair of registers.
// QX_BITWORD_32 builds the 32-bit form on a 64-bit host, for its tests.
#if defined(QX_BITWORD_32)
typedef uint32_t IMG_BITWORD;
#else
typedef UINT_PTR IMG_BITWORD;
#endif
constexpr int kImgWordBits = (int)sizeof(IMG_BITWORD) * 8;
