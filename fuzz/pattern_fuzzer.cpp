// libFuzzer target: the wildcard matcher and the list filter on arbitrary input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "pattern_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!tallowick::fuzz::run_pattern_input({data, size})) std::abort();
    return 0;
}
