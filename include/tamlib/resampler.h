/*
 * Tamlib Resampler: puts multichannel measurement data on one common time grid.
 *
 * Conventions of every call below:
 *  - Every function returns 0. A failure leaves the call as a C++ exception:
 *    std::invalid_argument with a fixed English message for bad input (listed per call),
 *    std::bad_alloc when memory runs out, std::length_error when a container cannot grow and
 *    std::system_error when a lock fails. A host must therefore call the library from C++ or
 *    through a layer that catches. When an exception leaves a call, its out-parameter is unchanged.
 *  - Times are seconds, except block-end times, the end time of noMoreDataToAdd and the maximum
 *    wait, which are milliseconds. Rates are Hz. Counts and buffer sizes are 64-bit unsigned.
 *  - Handles are opaque: a resampler handle from one of the create functions, a channel handle
 *    from one of the channel registrations. A channel handle stays valid until its resampler is
 *    deleted. Handles and data pointers are not validated; a host buffer must hold what the count
 *    says.
 *  - Calling order: create; set parameters; register channels; initialize; then repeatedly add
 *    values and times, calculate, read counts, times and values; noMoreDataToAdd and a last
 *    calculate; deleteResampler. Nothing enforces it, and no call sequence leads to a crash or to
 *    an output at a time that is not on the output grid.
 *  - One resampler and its channels must be driven from one thread at a time. Separate resamplers
 *    share nothing and may run on different threads.
 *  - Ring buffers: every input and output buffer is a fixed-size ring. Writing more than a ring
 *    holds between two calculate calls overwrites the oldest entries; calculate then continues
 *    from the oldest entry still stored and skips what was overwritten.
 *  - Environment: the variables read are TAMLIB_KERNEL (scalar, sse2, avx2 or avx512), which
 *    forces the alias-free filter kernel of resamplers created afterwards, for tests and
 *    benchmarks (a name the processor cannot run is ignored), and TAMLIB_ROW_STEPS (copy or
 *    prefetch), which forces how the AVX-512 kernel's batches take their input rows, otherwise
 *    chosen by processor. Every kernel gives the same bits, either way.
 */
#ifndef TAMLIB_RESAMPLER_H
#define TAMLIB_RESAMPLER_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(TAMLIB_BUILDING_LIBRARY)
#define TAMLIB_API __declspec(dllexport)
#else
#define TAMLIB_API __declspec(dllimport)
#endif
#else
#define TAMLIB_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Method codes, as taken by canResamplerAcceptChannel. */
#define TAMLIB_METHOD_HOLD 0
#define TAMLIB_METHOD_LINEAR 1
#define TAMLIB_METHOD_ALIAS_FREE 2

/* Time bases, as taken by setTimeBase. */
#define TAMLIB_TIMEBASE_IMPLICIT 0 /* output times generated from the output rate */
#define TAMLIB_TIMEBASE_EXPLICIT 1 /* output times supplied with addMasterTimes */

/* ---- Lifecycle ------------------------------------------------------------------------------ */

/* Sample-and-hold: each output takes the newest input at or before its time. Handles array
 * channels. Writes the new handle to *resampler. */
TAMLIB_API int createResamplerHold(void** resampler);
/* Linear interpolation between the two inputs around each output time. Scalar channels only: a
 * resampler holding an array channel silently produces nothing. */
TAMLIB_API int createResamplerLinear(void** resampler);
/* Rational polyphase FIR with a Kaiser-windowed low-pass per group of channels. Accepts
 * synchronous channels and asynchronous channels with a nominal rate only. */
TAMLIB_API int createResamplerAliasFree(void** resampler);
/* Destroys the resampler and all its channels. A null handle does nothing. */
TAMLIB_API int deleteResampler(void* resampler);

/* ---- Parameters ----------------------------------------------------------------------------- */

/* Output grid rate in Hz. Default 1000. Throws "Samplerate must be a positive number." when
 * 0.0 >= samplerate. A NaN is stored; initialize and calculate then throw
 * "Samplerate must be a finite positive number.". */
TAMLIB_API int setSamplerate(void* resampler, double samplerate);
/* Input ring size in samples. Default 1000. Hold and linear store size + 2 and throw
 * "Input buffer size must be more than 0." for 0; alias-free stores the size unchanged.
 * "Buffer size too large." when the rings could not exist. Rebuilds and zero-fills every ring. */
TAMLIB_API int setInputBufferSize(void* resampler, uint64_t size);
/* Output ring size in samples (also the master-time ring). Default 1000. Throws
 * "Output buffer size must be more than 0." for 0 and "Buffer size too large." when the rings
 * could not exist. Rebuilds and zero-fills every ring. */
TAMLIB_API int setOutputBufferSize(void* resampler, uint64_t size);
/* How long, in ms, calculate waits for a channel that lags its declared block end before holding
 * its newest value. Default +infinity (never). */
TAMLIB_API int setMaxWaitTimeInMs(void* resampler, double maxWaitTimeInMs);
/* Time tolerance in seconds for the hold and linear methods; negative means 0.001 / samplerate.
 * Default -1. Read by initialize. */
TAMLIB_API int setCustomEpsilon(void* resampler, double epsilon);
/* Earliest first output time in seconds. Default 0. Also the offset of addSyncChannel2 groups.
 * initialize and calculate throw "Initial offset must be a finite number." for a non-finite
 * value. */
TAMLIB_API int setInitialOffset(void* resampler, double offset);
/* TAMLIB_TIMEBASE_IMPLICIT (default) or TAMLIB_TIMEBASE_EXPLICIT. Alias-free throws
 * "Explicit timebase not supported." for 1. */
TAMLIB_API int setTimeBase(void* resampler, int32_t timeBase);
/* Alias-free stop-band attenuation in dB, 0 to 400. Default 60. Throws
 * "Sidelobe attenuation must be more than 0Db and less than 400dB.". Set before channels. */
TAMLIB_API int setSidelobeAttenuationInDB(void* resampler, double attenuation);
/* Alias-free transition band in percent of the lower rate, 10 to 100. Default 16. Throws
 * "Transition bandwith must be more than 10% and less than 100%.". Set before channels. */
TAMLIB_API int setTransitionBandwithPercent(void* resampler, int32_t percent);

/* ---- Channels ------------------------------------------------------------------------------- */
/* Channels with the same rate and offset share a group: one time axis, one output time ring.
 * A rate or offset that is not finite, or a rate <= 0, throws "Samplerate must be more than 0."
 * or "Initial offset must be a finite number." and registers nothing. Every registration
 * rebuilds and zero-fills every ring. Alias-free throws "Channel not supported." for a rate whose
 * whole number of hertz is 0, and for rates whose filter would need more than 4194304
 * coefficients (e.g. 1 GHz onto 1 kHz). */

/* Synchronous channel at samplerate Hz whose first sample lies at initialOffset s; sampleCount
 * (samples expected in total, 0 if unknown) feeds calculateDataCountOfChannel. */
TAMLIB_API int addSyncChannel(void* resampler, void** channel, double samplerate,
                              double initialOffset, int64_t sampleCount);
/* Synchronous channel at samplerate Hz starting at the resampler's initial offset (the
 * initialOffset argument is ignored); startTime/endTime in s give the expected range, -1 if
 * unknown. */
TAMLIB_API int addSyncChannel2(void* resampler, void** channel, double samplerate,
                               double initialOffset, double startTime, double endTime);
/* Asynchronous channel: the host gives a time stamp per sample with addTime/addTimes. Always a
 * new group. Alias-free throws "Channel not supported.". */
TAMLIB_API int addAsyncChannel(void* resampler, void** channel);
/* Asynchronous channel with a nominal rate (Hz) and offset (s); time stamps still come from the
 * host. */
TAMLIB_API int addAsyncChannel2(void* resampler, void** channel, double samplerate,
                                double initialOffset, int64_t sampleCount);
/* As addAsyncChannel2, with an expected range startTime..endTime in s (-1 if unknown). */
TAMLIB_API int addAsyncChannel3(void* resampler, void** channel, double samplerate,
                                double initialOffset, double startTime, double endTime);
/* Asynchronous channel whose samples are arraySize values each (one addData call per sample).
 * Throws "Output buffer to small." when arraySize exceeds the output ring (or is negative) and
 * "Input buffer to small." when 2 * arraySize exceeds the input ring; the channel then stays
 * registered but produces nothing. Alias-free throws "Channel not supported.". */
TAMLIB_API int addAsyncArrayChannel(void* resampler, void** channel, int32_t isArray,
                                    int32_t arraySize, double startTime, double endTime);

/* ---- Input ---------------------------------------------------------------------------------- */

/* Appends count values to the channel (an array channel: arraySize values = one sample). A count
 * of 0 does nothing. Throws "Input buffer to small." when the input ring has no entries. */
TAMLIB_API int addData(void* resampler, void* channel, const double* data, uint64_t count);
/* addData with one value. */
TAMLIB_API int addValue(void* resampler, void* channel, double value);
/* Appends count time stamps (s) for the channel's group. The first channel of a group to give
 * times is its time master; the others must repeat the same blocks ("Timestamps do not match.").
 * Throws "Invalid timestamps." for a NaN or infinite stamp, or (hold and linear) when a block
 * starts before the newest stored stamp. Nothing is stored on failure. A count of 0 does
 * nothing. */
TAMLIB_API int addTimes(void* resampler, void* channel, const double* times, uint64_t count);
/* addTimes with one time stamp. */
TAMLIB_API int addTime(void* resampler, void* channel, double time);
/* Appends output times (s) for TAMLIB_TIMEBASE_EXPLICIT. Throws "Invalid timestamps." for a NaN
 * or infinite time; stores nothing then. */
TAMLIB_API int addMasterTimes(void* resampler, const double* times, uint64_t count);
/* Declares the channel's data complete up to timeInMs (ms). +infinity means none given. Throws
 * "Block end time must be a number or positive infinity." for NaN and -infinity. Note: the first
 * argument is a channel handle. */
TAMLIB_API int addBlockEndTimeInMiliseconds(void* channel, double timeInMs);
/* End of data at timeInMs (ms): the next calculate fills or flushes every group up to it. Throws
 * "End time must be a finite number." */
TAMLIB_API int noMoreDataToAdd(void* resampler, double timeInMs);

/* ---- Processing ----------------------------------------------------------------------------- */

/* After the last registration, before the first data: expected counts, tolerance; alias-free
 * grows the input rings by its longest filter branch and primes its filters. */
TAMLIB_API int initialize(void* resampler);
/* One processing pass over everything added since the last one. Throws
 * "All channels must have the same number of samples added." when channels of one group differ,
 * and "Output buffer to small." when the pass would add more output times than the output ring
 * holds (nothing is added then: typically absolute time stamps with an offset of 0, a unit
 * mistake, or blocks too large for the rings). Outputs are produced only at output times
 * already on the grid; input that cannot be used yet stays pending for the next pass.
 * A group that lags its block end by more than the maximum wait, or that has reached the end
 * of data, holds its newest value up to that limit (a group that never received a sample is
 * left alone). The alias-free method flushes each group's filter tail at the end of data, once
 * per group. */
TAMLIB_API int calculate(void* resampler);

/* ---- Output --------------------------------------------------------------------------------- */

/* Copies count samples (count * arraySize values) of the channel's output. Throws
 * "Too many samples requested." when count >= the output ring size. */
TAMLIB_API int getResampledData2(void* resampler, void* channel, double* data, uint64_t count);
/* Copies count output times (s) of the channel's group; read once per group. Same limit. */
TAMLIB_API int getResampledTimes2(void* resampler, void* channel, double* times, uint64_t count);
/* Output samples the last calculate produced for the channel's group; 0 for an unknown handle. */
TAMLIB_API int getResampledDataCount(void* resampler, void* channel, uint64_t* count);
/* The same as getResampledDataCount. */
TAMLIB_API int getResampledTimesCount(void* resampler, void* channel, uint64_t* count);
/* Output samples expected for the channel's group in total (after initialize); 2^64 - 1 for an
 * unknown handle. */
TAMLIB_API int calculateDataCountOfChannel(void* resampler, void* channel, uint64_t* count);
/* Sum over groups of channels times expected outputs. */
TAMLIB_API int getAllDataCount(void* resampler, uint64_t* count);
/* Do nothing; kept for older hosts. */
TAMLIB_API int getResampledData(void* resampler, void* channel, double* data, uint64_t count);
TAMLIB_API int getResampledTimes(void* resampler, void* channel, double* times, uint64_t count);

/* ---- Queries without an instance ------------------------------------------------------------ */

/* Coefficients per polyphase branch of the alias-free filter for these rates (Hz), transition
 * band (%) and attenuation (dB). 0 when a rate is below 1 Hz, the percent is 0 or below, an
 * argument is not finite, or the estimate does not fit.
 * Timing: the alias-free method aligns its filter's centre with an output sample. When the
 * prototype has an even number of coefficients (Kaiser's estimate for the rates, percent and
 * attenuation) and the decimation factor Q is above 1, the centre falls half a sample off and
 * the method aligns the sample before it: its output at time t holds the input at
 * t + 1 / (P * inputSamplerate), P and Q the rates in whole hertz reduced by their divisor.
 * 1000 -> 250 Hz runs 1 ms early; 1000 -> 200 Hz and 2500 -> 1000 Hz are exact. The Python
 * package's alias_free_delay gives this figure, and its resample compensates it. */
TAMLIB_API int getAliasFreeFilterLength(double outputSamplerate, double inputSamplerate,
                                        int32_t transitionBandwithPercent,
                                        double sidelobeAttenuationInDB, uint32_t* length);
/* Writes 0 when a resampler of this method code can take a channel with these properties and an
 * input ring of inputBufferSize samples, 1 when it cannot. */
TAMLIB_API int canResamplerAcceptChannel(int32_t method, int32_t isArray, uint64_t inputBufferSize,
                                         double outputSamplerate, double inputSamplerate,
                                         int32_t transitionBandwithPercent,
                                         double sidelobeAttenuationInDB, uint32_t* result);

#ifdef __cplusplus
}
#endif

#endif /* TAMLIB_RESAMPLER_H */
