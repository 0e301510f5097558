// libFuzzer entry for the configuration decoders (`make fuzz`). A failed check aborts, so the
// input is kept as a crash artifact; each one found goes into regressions/.
#include "ConfigCheck.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString problem = brevlin::testing::checkConfigBytes(bytes);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        std::abort();
    }
    return 0;
}
