// The entry point libFuzzer calls: one program per target, chosen by name
// when the program is built.
#include <cstring>

#include "fuzz/FuzzTargets.h"

namespace {

TFuzzTarget ChosenTarget()
{
    for (std::size_t i = 0; i < FuzzTargetCount; ++i) {
        if (std::strcmp(FuzzTargets[i].Name, TARVEX_FUZZ_TARGET) == 0)
            return FuzzTargets[i].Run;
    }
    FuzzFinding("no fuzz target is named " TARVEX_FUZZ_TARGET);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    static const TFuzzTarget target = ChosenTarget();
    target(Data, Size);
    return 0;
}
