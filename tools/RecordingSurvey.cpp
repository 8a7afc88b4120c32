#include "RecordingSurvey.h"

#include <algorithm>
#include <limits>

namespace Karvel::Tamlib::Cli {

RecordingSurvey::RecordingSurvey(bool followNominalRates)
    : followNominalRates_(followNominalRates), endTime_(-std::numeric_limits<double>::infinity()) {}

void RecordingSurvey::add(const Sample& sample) {
    const std::size_t c = sample.channel;
    if (c >= channels_.size()) {
        channels_.resize(c + 1);
        tracking_.resize(c + 1);
    }
    Channel& channel = channels_[c];
    Tracking& tracking = tracking_[c];
    const double time = sample.time;
    const int64_t index = channel.count++;
    if (index == 0) {
        channel.firstTime = time;
    } else {
        channel.longestInterval = std::max(channel.longestInterval, time - channel.lastTime);
    }
    if (followNominalRates_) {
        compareStamps(c, time, index);
        if (channel.nominal.rateHz > 0.0) {
            followDrift(channel, time, index);
        } else if (tracking.leadingTimes.size() <= kNominalRateIntervals) {
            tracking.leadingTimes.push_back(time);
            if (tracking.leadingTimes.size() == kNominalRateIntervals + 1) {
                estimateNominalRate(c);
            }
        }
    }
    if (index == 0 || time != channel.lastTime) {
        tracking.runStart = index;
    }
    channel.lastTime = time;
    endTime_ = std::max(endTime_, time);
}

void RecordingSurvey::finish(std::size_t channelCount) {
    channels_.resize(std::max(channels_.size(), channelCount));
    tracking_.resize(channels_.size());
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        if (followNominalRates_ && channels_[c].nominal.rateHz == 0.0 &&
            tracking_[c].leadingTimes.size() >= 2) {
            estimateNominalRate(c);
        }
    }
}

void RecordingSurvey::estimateNominalRate(std::size_t c) {
    Channel& channel = channels_[c];
    std::vector<double>& times = tracking_[c].leadingTimes;
    channel.nominal = nominalRate(times);
    if (channel.nominal.rateHz > 0.0) {
        for (std::size_t k = 0; k < times.size(); ++k) {
            followDrift(channel, times[k], static_cast<int64_t>(k));
        }
    }
    times = std::vector<double>();
}

void RecordingSurvey::followDrift(Channel& channel, double time, int64_t index) const {
    const double nominalTime =
        channel.firstTime + static_cast<double>(index) / channel.nominal.rateHz;
    channel.mostBehindNominal = std::max(channel.mostBehindNominal, time - nominalTime);
    channel.mostAheadOfNominal = std::max(channel.mostAheadOfNominal, nominalTime - time);
}

// Keeps, for each channel, the channels whose stamps have equalled its own so far. Rows come in
// time order, so when the k-th stamp of one of two channels arrives and the other already has
// k + 1 stamps, the two agree exactly when the other's newest stamps, from its k-th on, all
// equal this one; otherwise the other's k-th stamp comes later and makes the comparison.
void RecordingSurvey::compareStamps(std::size_t c, double time, int64_t index) {
    std::vector<std::size_t>& partners = tracking_[c].sameStampsAs;
    if (index == 0) {
        for (std::size_t other = 0; other < channels_.size(); ++other) {
            if (other != c && channels_[other].count > 0 && channels_[other].firstTime == time) {
                partners.push_back(other);
                tracking_[other].sameStampsAs.push_back(c);
            }
        }
    }
    for (std::size_t p = 0; p < partners.size();) {
        const std::size_t other = partners[p];
        const Channel& theirs = channels_[other];
        const bool agrees = theirs.count <= index ||
                            (theirs.lastTime == time && tracking_[other].runStart <= index);
        if (agrees) {
            ++p;
            continue;
        }
        std::vector<std::size_t>& back = tracking_[other].sameStampsAs;
        back.erase(std::find(back.begin(), back.end(), c));
        partners.erase(partners.begin() + static_cast<std::ptrdiff_t>(p));
    }
}

bool RecordingSurvey::sameTimeStamps(std::size_t a, std::size_t b) const {
    const std::vector<std::size_t>& partners = tracking_[a].sameStampsAs;
    return channels_[a].count == channels_[b].count &&
           std::find(partners.begin(), partners.end(), b) != partners.end();
}

}  // namespace Karvel::Tamlib::Cli
