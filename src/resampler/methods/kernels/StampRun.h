#pragma once

#include <algorithm>
#include <cstdint>

namespace Karvel::Tamlib::Resampler::Kernels {

// stamps[i] = (first + i) * dt + (dt + t0) for i < count: the input stamps of a channel defined
// by its rate. Every element is its own multiply and add, so every width gives the same bits.
using StampRunFunction = void (*)(double* stamps, uint64_t first, uint64_t count, double dt,
                                  double t0);

void baselineStampRun(double* stamps, uint64_t first, uint64_t count, double dt, double t0);
void avx2StampRun(double* stamps, uint64_t first, uint64_t count, double dt, double t0);
void avx512StampRun(double* stamps, uint64_t first, uint64_t count, double dt, double t0);

// The stamp run of the instruction set selectKernel() picks.
StampRunFunction selectStampRun();

// out[j] = base + (j + 1) * step for j < length: a run of master times within one binade, where
// every product and sum is exact (see sumGrid), so every width gives the same bits.
using GridRunFunction = void (*)(double* out, int32_t length, double base, double step);

void baselineGridRun(double* out, int32_t length, double base, double step);
void avx2GridRun(double* out, int32_t length, double base, double step);
void avx512GridRun(double* out, int32_t length, double base, double step);

GridRunFunction selectGridRun();

namespace {

// Compiled once per instruction set, each copy vectorized for its own width. Below 2^53 the
// index is the exact sum of first and an int32 offset, which converts to double in vector
// registers.
inline void stampRun(double* stamps, uint64_t first, uint64_t count, double dt, double t0) {
    constexpr uint64_t kExactIndices = uint64_t{1} << 53;
    constexpr uint64_t kChunk = uint64_t{1} << 30;
    uint64_t i = 0;
    if (first < kExactIndices && count < kExactIndices - first) {
        for (; i < count; i += kChunk) {
            const auto length = static_cast<int32_t>(std::min(kChunk, count - i));
            const double base = static_cast<double>(first + i);
            double* out = stamps + i;
            for (int32_t m = 0; m < length; ++m) {
                out[m] = (base + static_cast<double>(m)) * dt + (dt + t0);
            }
        }
        return;
    }
    for (; i < count; ++i) {
        stamps[i] = static_cast<double>(first + i) * dt + (dt + t0);
    }
}

inline void gridRun(double* out, int32_t length, double base, double step) {
    for (int32_t j = 0; j < length; ++j) {
        out[j] = base + static_cast<double>(j + 1) * step;
    }
}

}  // namespace

}  // namespace Karvel::Tamlib::Resampler::Kernels
