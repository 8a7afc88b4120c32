// The second alias-free peer: libsoxr at its high quality, float64 in and out, one thread, on
// the benchmark's own signal streamed in the same blocks. Prints input samples times channels
// per second of CPU time, the fastest of the runs.
//
//   tamlib_soxr_peer <signal.f64> <samples per channel> <channels> <block> <input Hz> <output Hz>
//                    <runs>

#include <soxr.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

// One stream: every block through soxr_process, then the flush.
bool streamOnce(const std::vector<double>& signal, size_t samples, unsigned channels, size_t block,
                double inputRate, double outputRate, std::vector<double>& output) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_S, SOXR_FLOAT64_S);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr_t resampler =
        soxr_create(inputRate, outputRate, channels, &error, &io, &quality, &runtime);
    if (error != nullptr) {
        std::fprintf(stderr, "soxr_create: %s\n", error);
        return false;
    }
    const size_t outputBlock =
        static_cast<size_t>(static_cast<double>(block) * outputRate / inputRate) + 1024;
    output.resize(outputBlock * channels);
    std::vector<const double*> inputs(channels);
    std::vector<double*> outputs(channels);
    for (unsigned c = 0; c < channels; ++c) {
        outputs[c] = output.data() + c * outputBlock;
    }
    for (size_t first = 0; first <= samples; first += block) {
        const bool last = first >= samples;
        const size_t count = last ? 0 : std::min(block, samples - first);
        for (unsigned c = 0; c < channels; ++c) {
            inputs[c] = signal.data() + c * samples + first;
        }
        size_t used = 0;
        size_t produced = 0;
        error = soxr_process(resampler, last ? nullptr : inputs.data(), count, &used,
                             outputs.data(), outputBlock, &produced);
        if (error != nullptr) {
            std::fprintf(stderr, "soxr_process: %s\n", error);
            soxr_delete(resampler);
            return false;
        }
    }
    soxr_delete(resampler);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: %s signal.f64 samples channels block inputHz outputHz runs\n",
                     argv[0]);
        return 2;
    }
    const size_t samples = std::strtoull(argv[2], nullptr, 10);
    const auto channels = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
    const size_t block = std::strtoull(argv[4], nullptr, 10);
    const double inputRate = std::strtod(argv[5], nullptr);
    const double outputRate = std::strtod(argv[6], nullptr);
    const int runs = std::atoi(argv[7]);

    std::vector<double> signal(samples * channels);
    std::FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr ||
        std::fread(signal.data(), sizeof(double), signal.size(), file) != signal.size()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    std::fclose(file);

    std::vector<double> output;
    double best = 0.0;
    for (int run = 0; run < runs; ++run) {
        const std::clock_t start = std::clock();
        if (!streamOnce(signal, samples, channels, block, inputRate, outputRate, output)) {
            return 1;
        }
        const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        best = std::max(best, static_cast<double>(samples * channels) / seconds);
    }
    std::printf("%.6e\n", best);
    return 0;
}
