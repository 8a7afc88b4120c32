/* A C11 host: the public header compiles without C++ and the library links and runs. */
#include <stdio.h>

#include "tamlib/resampler.h"

int main(void) {
    void* resampler = NULL;
    void* channel = NULL;
    double values[5] = {1.0, 2.0, 3.0, 4.0, 5.0};
    double out[8];
    uint64_t count = 0;
    createResamplerHold(&resampler);
    addSyncChannel(resampler, &channel, 1000.0, 0.0, 5);
    initialize(resampler);
    addData(resampler, channel, values, 5);
    calculate(resampler);
    getResampledDataCount(resampler, channel, &count);
    if (count != 5) {
        fprintf(stderr, "expected 5 outputs, got %llu\n", (unsigned long long)count);
        return 1;
    }
    getResampledData2(resampler, channel, out, count);
    deleteResampler(resampler);
    if (out[0] != 1.0 || out[4] != 5.0) {
        fprintf(stderr, "values were not copied through\n");
        return 1;
    }
    printf("C host: 5 samples copied through\n");
    return 0;
}
