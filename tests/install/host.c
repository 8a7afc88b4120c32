/* A C11 host built only against an installed tree: linear resampling of a short irregular
 * recording onto a 2 Hz grid starting at 0.5 s. */
#include <stdio.h>

#include <tamlib/resampler.h>

int main(void) {
    /* Input (1 s, 10), (2 s, 20), (3 s, 40). Each output is y0 + (t - t0) / (t1 - t0) * (y1 - y0)
     * on the enclosing pair: 0.5 s lies before the first sample, so the line through the first
     * two is extended back to 5; 3.0 s waits for a sample after it. */
    const double inTimes[3] = {1.0, 2.0, 3.0};
    const double inValues[3] = {10.0, 20.0, 40.0};
    const double wantTimes[5] = {0.5, 1.0, 1.5, 2.0, 2.5};
    const double wantValues[5] = {5.0, 10.0, 15.0, 20.0, 30.0};
    void* resampler = NULL;
    void* channel = NULL;
    double outTimes[8];
    double outValues[8];
    uint64_t count = 0;
    uint64_t i;

    createResamplerLinear(&resampler);
    setSamplerate(resampler, 2.0);
    setInitialOffset(resampler, 0.5);
    setCustomEpsilon(resampler, 1e-6);
    addAsyncChannel(resampler, &channel);
    initialize(resampler);
    addData(resampler, channel, inValues, 3);
    addTimes(resampler, channel, inTimes, 3);
    calculate(resampler);
    getResampledDataCount(resampler, channel, &count);
    if (count != 5) {
        fprintf(stderr, "expected 5 outputs, got %llu\n", (unsigned long long)count);
        deleteResampler(resampler);
        return 1;
    }
    getResampledTimes2(resampler, channel, outTimes, count);
    getResampledData2(resampler, channel, outValues, count);
    deleteResampler(resampler);
    for (i = 0; i < count; ++i) {
        if (outTimes[i] != wantTimes[i] || outValues[i] != wantValues[i]) {
            fprintf(stderr, "output %llu: got (%.17g s, %.17g), expected (%.17g s, %.17g)\n",
                    (unsigned long long)i, outTimes[i], outValues[i], wantTimes[i], wantValues[i]);
            return 1;
        }
    }
    printf("installed host: 5 linear outputs as derived\n");
    return 0;
}
