#pragma once

// The vector kernels of every instruction set, written once over a small vector type. Each
// translation unit includes this header with its own instruction set enabled and instantiates it
// with its own vector type.
//
// Everything here has internal linkage on purpose: an inline function or template shared by name
// between the units would be merged by the linker, and the copy built for the widest
// instruction set could then run on a processor that lacks it.

#include <cstdint>

#include "resampler/methods/kernels/PolyphaseKernel.h"

namespace Karvel::Tamlib::Resampler::Kernels {
namespace {

// K outputs by VB vectors of channels from `column` on: K * VB independent accumulators, each
// one channel lane of one output, summed from 0.0 over the taps in order.
template <class V, int K, int VB>
void channelTile(const PolyphaseBatch& batch, uint64_t first, uint64_t column) {
    const uint64_t taps = batch.taps;
    const uint64_t stride = batch.stride;
    const double* coefficient[K];
    const double* sample[K];
    for (int k = 0; k < K; ++k) {
        coefficient[k] = batch.branches + static_cast<uint64_t>(batch.phases[first + k]) * taps;
        sample[k] = batch.history + batch.rows[first + k] * stride + column;
    }
    typename V::Vec sum[K][VB];
    for (int k = 0; k < K; ++k) {
        for (int v = 0; v < VB; ++v) {
            sum[k][v] = V::zero();
        }
    }
    for (uint64_t j = 0; j < taps; ++j) {
        for (int k = 0; k < K; ++k) {
            const typename V::Vec c = V::broadcast(coefficient[k] + j);
            const double* row = sample[k] + j * stride;
            for (int v = 0; v < VB; ++v) {
                sum[k][v] = V::add(sum[k][v], V::mul(c, V::load(row + v * V::width)));
            }
        }
    }
    for (int k = 0; k < K; ++k) {
        double* out = batch.results + (first + k) * stride + column;
        for (int v = 0; v < VB; ++v) {
            V::store(out + v * V::width, sum[k][v]);
        }
    }
}

template <class V, int K, int VB>
void channelColumns(const PolyphaseBatch& batch, uint64_t column) {
    uint64_t first = 0;
    for (; first + K <= batch.count; first += K) {
        channelTile<V, K, VB>(batch, first, column);
    }
    for (; first < batch.count; ++first) {
        channelTile<V, 1, VB>(batch, first, column);
    }
}

// Channels in lanes: pairs of vectors with KPair outputs at a time, a last odd vector with
// KSingle outputs at a time, so that enough chains run side by side to hide the adder latency.
template <class V, int KPair, int KSingle>
void channelLanes(const PolyphaseBatch& batch) {
    const uint64_t vectors = batch.stride / V::width;
    uint64_t v = 0;
    for (; v + 2 <= vectors; v += 2) {
        channelColumns<V, KPair, 2>(batch, v * V::width);
    }
    if (v < vectors) {
        channelColumns<V, KSingle, 1>(batch, v * V::width);
    }
}

// One channel whose windows advance by one sample per P outputs (Q = 1): outputs first + p +
// P * o for o = 0 .. width - 1 share branch and have consecutive windows, so they fill one
// vector. J such vectors at a time, the i-th of them chain `chain + i` of the run.
template <class V, int J>
void outputLaneTile(const PolyphaseBatch& batch, uint64_t first, uint64_t chain) {
    const uint64_t taps = batch.taps;
    const uint64_t up = batch.up;
    const double* coefficient[J];
    const double* sample[J];
    uint64_t base[J];
    for (int i = 0; i < J; ++i) {
        const uint64_t c = chain + static_cast<uint64_t>(i);
        // Chain c is phase c mod P of super-block c div P, which spans P * width outputs.
        base[i] = first + (c / up) * up * V::width + c % up;
        coefficient[i] = batch.branches + static_cast<uint64_t>(batch.phases[base[i]]) * taps;
        sample[i] = batch.history + batch.rows[base[i]];
    }
    typename V::Vec sum[J];
    for (int i = 0; i < J; ++i) {
        sum[i] = V::zero();
    }
    for (uint64_t j = 0; j < taps; ++j) {
        for (int i = 0; i < J; ++i) {
            sum[i] =
                V::add(sum[i], V::mul(V::broadcast(coefficient[i] + j), V::load(sample[i] + j)));
        }
    }
    for (int i = 0; i < J; ++i) {
        double lanes[V::width];
        V::store(lanes, sum[i]);
        for (uint64_t o = 0; o < V::width; ++o) {
            batch.results[base[i] + up * o] = lanes[o];
        }
    }
}

// Whether outputs first .. first + P * width - 1 have the pattern outputLaneTile relies on.
template <class V>
bool outputLanesFit(const PolyphaseBatch& batch, uint64_t first) {
    const uint64_t up = batch.up;
    for (uint64_t p = 0; p < up; ++p) {
        const uint64_t lead = first + p;
        for (uint64_t o = 1; o < V::width; ++o) {
            const uint64_t k = lead + up * o;
            if (batch.phases[k] != batch.phases[lead] || batch.rows[k] != batch.rows[lead] + o) {
                return false;
            }
        }
    }
    return true;
}

template <class V>
void singleChannel(const PolyphaseBatch& batch) {
    const uint64_t span = static_cast<uint64_t>(batch.up) * V::width;
    uint64_t blocks = batch.down == 1 ? batch.count / span : 0;
    for (uint64_t b = 0; b < blocks; ++b) {
        if (!outputLanesFit<V>(batch, b * span)) {
            blocks = 0;
        }
    }
    const uint64_t chains = blocks * batch.up;
    uint64_t chain = 0;
    for (; chain + 8 <= chains; chain += 8) {
        outputLaneTile<V, 8>(batch, 0, chain);
    }
    for (; chain < chains; ++chain) {
        outputLaneTile<V, 1>(batch, 0, chain);
    }
    PolyphaseBatch rest = batch;
    const uint64_t done = blocks * span;
    rest.phases += done;
    rest.rows += done;
    rest.results += done;
    rest.count -= done;
    interleavedScalarChains(rest);
}

// Square tiles of V::tile doubles are transposed in registers; the edges go one by one.
template <class V>
void interleaveLanes(const double* const* sources, uint64_t channels, uint64_t rows,
                     double* history, uint64_t stride) {
    constexpr uint64_t tile = V::tile;
    const uint64_t tiledChannels = channels - channels % tile;
    const uint64_t tiledRows = rows - rows % tile;
    for (uint64_t r = 0; r < tiledRows; r += tile) {
        for (uint64_t c = 0; c < tiledChannels; c += tile) {
            const double* in[tile];
            double* out[tile];
            for (uint64_t i = 0; i < tile; ++i) {
                in[i] = sources[c + i] + r;
                out[i] = history + (r + i) * stride + c;
            }
            V::transposeTile(in, out);
        }
    }
    for (uint64_t r = 0; r < rows; ++r) {
        double* row = history + r * stride;
        const uint64_t firstChannel = r < tiledRows ? tiledChannels : 0;
        for (uint64_t c = firstChannel; c < channels; ++c) {
            row[c] = sources[c][r];
        }
        for (uint64_t c = channels; c < stride; ++c) {
            row[c] = 0.0;
        }
    }
}

template <class V>
void deinterleaveLanes(const double* rowsIn, uint64_t stride, uint64_t rows, double* const* targets,
                       uint64_t channels) {
    constexpr uint64_t tile = V::tile;
    const uint64_t tiledChannels = channels - channels % tile;
    const uint64_t tiledRows = rows - rows % tile;
    for (uint64_t r = 0; r < tiledRows; r += tile) {
        for (uint64_t c = 0; c < tiledChannels; c += tile) {
            const double* in[tile];
            double* out[tile];
            for (uint64_t i = 0; i < tile; ++i) {
                in[i] = rowsIn + (r + i) * stride + c;
                out[i] = targets[c + i] + r;
            }
            V::transposeTile(in, out);
        }
    }
    for (uint64_t r = 0; r < rows; ++r) {
        const double* row = rowsIn + r * stride;
        const uint64_t firstChannel = r < tiledRows ? tiledChannels : 0;
        for (uint64_t c = firstChannel; c < channels; ++c) {
            targets[c][r] = row[c];
        }
    }
}

}  // namespace
}  // namespace Karvel::Tamlib::Resampler::Kernels
