// Prints what the peers need to compute the same filter as the library: the polyphase factors
// and the padded coefficient array of a group, or the kernel this processor gets.
//
//   tamlib_dump_coefficients <output rate Hz> <input rate Hz>   "P Q T", then one coefficient a
//   line tamlib_dump_coefficients --kernel                          the kernel's name

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "resampler/methods/ResamplerAliasFree.h"
#include "resampler/methods/kernels/KernelDispatch.h"
#include "tamlib/resampler.h"

using Karvel::Tamlib::Resampler::ResamplerAliasFree;

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--kernel") == 0) {
        std::printf("%s\n", Karvel::Tamlib::Resampler::Kernels::selectKernel().name);
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s outputRateHz inputRateHz | --kernel\n", argv[0]);
        return 2;
    }
    void* handle = nullptr;
    createResamplerAliasFree(&handle);
    setSamplerate(handle, std::strtod(argv[1], nullptr));
    void* channel = nullptr;
    addSyncChannel(handle, &channel, std::strtod(argv[2], nullptr), 0.0, 0);
    const auto& resampler = *static_cast<ResamplerAliasFree*>(handle);
    const auto* filter = resampler.filterOf(*resampler.findGroupOfChannel(
        static_cast<Karvel::Tamlib::Resampler::ResamplerChannel*>(channel)));
    if (filter == nullptr) {
        std::fprintf(stderr, "no filter for these rates\n");
        deleteResampler(handle);
        return 1;
    }
    std::printf("%u %u %llu\n", filter->up, filter->down,
                static_cast<unsigned long long>(filter->taps));
    for (const float coefficient : filter->coefficients) {
        std::printf("%.9g\n", static_cast<double>(coefficient));
    }
    deleteResampler(handle);
    return 0;
}
