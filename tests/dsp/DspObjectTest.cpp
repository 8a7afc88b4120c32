#include "dsp/DspObject.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using Karvel::Tamlib::Dsp::DspObject::DspObject;

// Counts recomputes; can throw once, or copy itself while its own lock is held.
class Probe : public DspObject {
public:
    Probe() = default;
    Probe(const Probe& other) : DspObject(other) {}

    void touch() { update(); }

    int runs = 0;
    bool throwOnce = false;
    bool copyDuringRecompute = false;
    bool yieldInside = false;  // widens the window in which two recomputes could meet
    std::unique_ptr<Probe> copy;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};

protected:
    void recompute() override {
        if (inside.fetch_add(1) != 0) {
            overlapped = true;
        }
        ++runs;
        if (yieldInside) {
            std::this_thread::yield();
        }
        if (copyDuringRecompute) {
            copyDuringRecompute = false;
            copy = std::make_unique<Probe>(*this);
            // The copy's lock must be its own: the source's is held right now.
            copy->touch();
        }
        inside.fetch_sub(1);
        if (throwOnce) {
            throwOnce = false;
            throw std::runtime_error("recompute failed");
        }
    }
};

// Runs a scenario on its own thread. A lock left held would block it for good, so after the
// limit the thread is abandoned, with the objects it owns, and the test fails instead of hanging.
bool finishesWithin(std::function<void()> scenario) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread worker([scenario, done] {
        scenario();
        done->set_value();
    });
    if (finished.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        worker.detach();
        return false;
    }
    worker.join();
    return true;
}

TEST(DspObjectTest, UpdateRunsRecomputeOnEveryCall) {
    Probe probe;
    EXPECT_EQ(probe.isValid(), 0);
    for (int call = 1; call <= 3; ++call) {
        probe.touch();
        EXPECT_EQ(probe.runs, call);
    }
    EXPECT_EQ(probe.isValid(), 0);
}

TEST(DspObjectTest, CopyHasItsOwnUnlockedLockAndTheSourceValidity) {
    auto probe = std::make_shared<Probe>();
    const auto copyWhileLocked = [probe] {
        probe->copyDuringRecompute = true;
        probe->touch();
        // The source's lock was released after its recompute.
        probe->touch();
    };
    ASSERT_TRUE(finishesWithin(copyWhileLocked)) << "update blocked on a held lock";
    EXPECT_EQ(probe->runs, 2);
    ASSERT_NE(probe->copy, nullptr);
    EXPECT_EQ(probe->copy->runs, 1);
    EXPECT_EQ(probe->copy->isValid(), probe->isValid());
}

TEST(DspObjectTest, ThrowingRecomputeLeavesLockReleased) {
    auto probe = std::make_shared<Probe>();
    probe->throwOnce = true;
    const auto throwThenUpdate = [probe] {
        EXPECT_THROW(probe->touch(), std::runtime_error);
        probe->touch();
    };
    ASSERT_TRUE(finishesWithin(throwThenUpdate)) << "update blocked on a held lock";
    EXPECT_EQ(probe->runs, 2);
    EXPECT_EQ(probe->isValid(), 0);
}

TEST(DspObjectTest, ConcurrentUpdatesRunRecomputeOneAfterAnother) {
    constexpr int kThreads = 4;
    constexpr int kCallsPerThread = 2000;
    auto probe = std::make_shared<Probe>();
    probe->yieldInside = true;
    const auto hammer = [probe] {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([probe] {
                for (int k = 0; k < kCallsPerThread; ++k) {
                    probe->touch();
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
    };
    ASSERT_TRUE(finishesWithin(hammer)) << "update blocked on a held lock";
    EXPECT_FALSE(probe->overlapped);
    EXPECT_EQ(probe->runs, kThreads * kCallsPerThread);
}

}  // namespace
