#pragma once

// A reproducible signal uniform in [-1, 1), shared by the alias-free tests and the dump program
// that the scipy comparison reads.

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace AliasFreeTest {

inline std::vector<double> randomSignal(size_t count, uint64_t seed) {
    std::mt19937_64 generator(seed);
    std::vector<double> values(count);
    for (double& value : values) {
        value = static_cast<double>(generator() >> 11) * 0x1.0p-52 - 1.0;
    }
    return values;
}

}  // namespace AliasFreeTest
