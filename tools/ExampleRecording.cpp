#include "ExampleRecording.h"

#include <cmath>
#include <cstdint>

namespace Karvel::Tamlib::Cli {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;

// splitmix64: a fixed integer recipe, so the noise does not depend on the standard library.
class Noise {
public:
    explicit Noise(uint64_t seed) : state_(seed) {}

    // Uniform in [0, 1).
    double next() {
        state_ += 0x9E3779B97F4A7C15ull;
        uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * 0x1.0p-53;
    }

private:
    uint64_t state_;
};

// sin(2 pi cycles), from a range reduction and a Taylor polynomial (error below 1e-11). The C
// runtimes of different platforms may round sin differently in the last bit.
double sineOfCycles(double cycles) {
    double x = kTwoPi * (cycles - std::floor(cycles + 0.5));  // [-pi, pi]
    if (x > kHalfPi) {
        x = kPi - x;
    } else if (x < -kHalfPi) {
        x = -kPi - x;
    }
    const double x2 = x * x;
    double sum = 0.0;
    double term = x;
    for (int k = 1; k <= 17; k += 2) {
        sum += term;
        term = -term * x2 / static_cast<double>((k + 1) * (k + 2));
    }
    return sum;
}

InputChannel vibration(double durationSeconds, Noise& noise) {
    InputChannel channel;
    channel.name = "vibration";
    channel.timing = InputChannel::Timing::Synchronous;
    channel.samplerateHz = 2500.0;
    const auto count = static_cast<std::size_t>(std::floor(durationSeconds * 2500.0));
    for (std::size_t k = 0; k < count; ++k) {
        const double t = static_cast<double>(k) / 2500.0;
        channel.values.push_back(0.8 * sineOfCycles(50.0 * t) + 0.3 * sineOfCycles(320.0 * t) +
                                 0.1 * sineOfCycles(730.0 * t) + 0.02 * (noise.next() - 0.5));
    }
    return channel;
}

InputChannel temperature(double durationSeconds, Noise& noise) {
    InputChannel channel;
    channel.name = "temperature";
    channel.timing = InputChannel::Timing::Synchronous;
    channel.samplerateHz = 100.0;
    const auto count = static_cast<std::size_t>(std::floor(durationSeconds * 100.0));
    for (std::size_t k = 0; k < count; ++k) {
        const double t = static_cast<double>(k) / 100.0;
        channel.values.push_back(21.5 + 0.75 * t + 0.05 * sineOfCycles(0.8 * t) +
                                 0.01 * (noise.next() - 0.5));
    }
    channel.declaredSampleCount = static_cast<int64_t>(count);
    return channel;
}

InputChannel pressure(double durationSeconds, Noise& noise) {
    InputChannel channel;
    channel.name = "pressure";
    channel.timing = InputChannel::Timing::Timestamped;
    const double periodSeconds = 1.0 / 50.0;
    const auto slots = static_cast<std::size_t>(std::floor(durationSeconds * 50.0));
    for (std::size_t k = 0; k < slots; ++k) {
        const double jitter = (noise.next() - 0.5) * 0.1;
        const bool dropped = noise.next() < 0.03;
        // The logger stamps its first sample with the start of the recording.
        if (k > 0 && dropped) {
            continue;
        }
        const double t = k == 0 ? 0.0 : (static_cast<double>(k) + jitter) * periodSeconds;
        channel.times.push_back(t);
        channel.values.push_back(2.0 + 0.25 * sineOfCycles(1.5 * t) + 0.005 * (noise.next() - 0.5));
    }
    channel.declaredSampleCount = static_cast<int64_t>(channel.values.size());
    return channel;
}

}  // namespace

std::vector<InputChannel> ExampleRecording::generate(double durationSeconds) {
    Noise noise(20240611u);
    std::vector<InputChannel> channels;
    // Synchronous channels first: a rate registration could otherwise join the group of an
    // asynchronous channel that happens to have the same rate and offset.
    channels.push_back(vibration(durationSeconds, noise));
    channels.push_back(temperature(durationSeconds, noise));
    channels.push_back(pressure(durationSeconds, noise));
    return channels;
}

}  // namespace Karvel::Tamlib::Cli
