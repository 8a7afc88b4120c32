#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "RegistrationRules.h"
#include "SampleSource.h"

namespace Karvel::Tamlib::Cli {

// What the first pass over a recording learns about each channel, in memory bounded by the
// channel count: what the registrations and the ring sizes need, since the recording itself is
// not kept. Times are those of the samples handed in.
class RecordingSurvey {
public:
    struct Channel {
        int64_t count = 0;
        double firstTime = 0.0;
        double lastTime = 0.0;
        double longestInterval = 0.0;
        NominalRate nominal;  // from the first stamps; rateHz 0 until known or when there is none
        // How far the stamps stray from the nominal times firstTime + k / rate, in seconds: the
        // alias-free filter places sample k at its nominal time, so its outputs trail the grid
        // by the first figure and its input waits in the ring for the second.
        double mostBehindNominal = 0.0;
        double mostAheadOfNominal = 0.0;
    };

    // followNominalRates: estimate the nominal rates, follow the stamps' drift from them, and
    // find channels with equal stamps (all for the alias-free method).
    explicit RecordingSurvey(bool followNominalRates);

    void add(const Sample& sample);
    // Ends the pass; channels that never had a sample count 0.
    void finish(std::size_t channelCount);

    std::size_t channelCount() const { return channels_.size(); }
    const Channel& channel(std::size_t c) const { return channels_[c]; }
    // The newest time stamp; -infinity without any sample.
    double endTime() const { return endTime_; }
    // Whether two channels have exactly the same time stamps.
    bool sameTimeStamps(std::size_t a, std::size_t b) const;

private:
    struct Tracking {
        std::vector<double> leadingTimes;  // until the nominal rate is known
        int64_t runStart = 0;              // first index at lastTime
        std::vector<std::size_t> sameStampsAs;
    };

    void estimateNominalRate(std::size_t c);
    void followDrift(Channel& channel, double time, int64_t index) const;
    void compareStamps(std::size_t c, double time, int64_t index);

    bool followNominalRates_;
    std::vector<Channel> channels_;
    std::vector<Tracking> tracking_;
    double endTime_;
};

}  // namespace Karvel::Tamlib::Cli
