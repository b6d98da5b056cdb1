// Which kernels this processor and system can run, found once.
#include "imaging/kernels.h"

#if defined(QX_X86)
#include <cpuid.h>
#endif

namespace {

struct Processor {
    int level;
    bool clmul;
    bool bmi2;
};

#if defined(QX_X86)
// Whether the system saves the 256-bit registers on a task switch (XCR0
// bits 1 and 2), which AVX2 code needs besides the processor's support.
bool SystemSavesYmm(unsigned ecx1)
{
    if (!(ecx1 & bit_OSXSAVE))
        return false;
    unsigned lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (lo & 6) == 6;
}
#endif

Processor Detect()
{
    Processor p = { IMG_KERNELS_SCALAR, false, false };
#if defined(QX_X86)
    // SSE2 needs the processor and a system that saves its registers;
    // IsProcessorFeaturePresent answers for both.
    if (!IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE))
        return p;
    p.level = IMG_KERNELS_SSE2;
    unsigned a, b, ecx1 = 0, d, ebx7 = 0, c;
    if (!__get_cpuid(1, &a, &b, &ecx1, &d))
        return p;
    if (__get_cpuid_max(0, nullptr) >= 7)
        __cpuid_count(7, 0, a, ebx7, c, d);
    // Systems older than the feature codes for SSSE3, SSE4.1 and AVX2 answer
    // FALSE for them, so the processor's own bits count as well: SSSE3,
    // SSE4.1 and carry-less multiplication use only the registers the system
    // already saves for SSE2; AVX2 also needs the wider ones saved.
    const bool ssse3 = IsProcessorFeaturePresent(PF_SSSE3_INSTRUCTIONS_AVAILABLE) || (ecx1 & bit_SSSE3);
    const bool sse41 = IsProcessorFeaturePresent(PF_SSE4_1_INSTRUCTIONS_AVAILABLE) || (ecx1 & bit_SSE4_1);
    if (!ssse3 || !sse41)
        return p;
    p.level = IMG_KERNELS_SSE41;
    p.clmul = (ecx1 & bit_PCLMUL) != 0;
    if (IsProcessorFeaturePresent(PF_AVX2_INSTRUCTIONS_AVAILABLE) || ((ebx7 & bit_AVX2) && SystemSavesYmm(ecx1))) {
        p.level = IMG_KERNELS_AVX2;
        p.bmi2 = (ebx7 & bit_BMI) && (ebx7 & bit_BMI2);
    }
#endif
    return p;
}

// Plain globals, filled on the first decode (the module decodes on its
// host's user-interface thread only). Not function-local statics: their
// guards would bring the runtime's thread emulation into the module.
Processor g_processor;
bool g_detected;
int g_levelCap = -1;
IMG_KERNELS g_kernels;
bool g_chosen;

void Choose()
{
    if (!g_detected) {
        g_processor = Detect();
        g_detected = true;
    }
    IMG_KERNELS k = {};
    k.level = g_levelCap >= 0 && g_levelCap < g_processor.level ? g_levelCap : g_processor.level;
    k.clmul = k.level >= IMG_KERNELS_SSE41 && g_processor.clmul;
    k.bmi2 = k.level >= IMG_KERNELS_AVX2 && g_processor.bmi2;
    JpegChooseKernels(&k);
    PngChooseKernels(&k);
    ChecksumChooseKernels(&k);
    InflateChooseKernels(&k);
    g_kernels = k;
    g_chosen = true;
}

} // namespace

const IMG_KERNELS* Img_GetKernels()
{
    if (!g_chosen)
        Choose();
    return &g_kernels;
}

int Img_ForceKernelLevel(int level)
{
    g_levelCap = level;
    Choose();
    return g_kernels.level;
}
