#include "recording/xvid_library.h"

#include <xvid.h>

namespace {

static_assert(kXvidInterfaceVersion == XVID_MAKE_VERSION(1, 3, 2));

constexpr unsigned kForcedCpuFlags = XVID_CPU_FORCE | XVID_CPU_MMX | XVID_CPU_SSE2 | XVID_CPU_SSE3;
static_assert(kForcedCpuFlags == 0x80000109u);

// Recordings are encoded with the library restricted to exactly MMX, SSE2 and SSE3, whatever
// else the processor offers. Forcing an instruction set the processor lacks would crash the
// codec, so on such a processor (or another architecture) the library detects what it may use.
unsigned CpuFlags() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("mmx") && __builtin_cpu_supports("sse2") &&
        __builtin_cpu_supports("sse3")) {
        return kForcedCpuFlags;
    }
#endif
    return 0;
}

}  // namespace

int InitXvidLibrary() {
    static const int result = [] {
        xvid_gbl_init_t init{};
        init.version = kXvidInterfaceVersion;
        init.cpu_flags = CpuFlags();
        init.debug = 0;
        return xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);
    }();
    return result;
}
