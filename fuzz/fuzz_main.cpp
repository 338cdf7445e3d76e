// One libFuzzer target per reader: ORVIK_FUZZ_TARGET names the check it runs.
#include "fuzz/Checks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    static const FuzzChecks::Target *target = [] {
        for (const FuzzChecks::Target &t : FuzzChecks::targets())
            if (std::strcmp(t.name, ORVIK_FUZZ_TARGET) == 0)
                return &t;
        std::fprintf(stderr, "no fuzz target named %s\n", ORVIK_FUZZ_TARGET);
        std::abort();
    }();
    const QString why = target->check(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!why.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", target->name, qPrintable(why));
        std::abort();
    }
    return 0;
}
