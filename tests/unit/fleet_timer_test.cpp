// VNfleet's wait for a device's reply: the estimate and its variance, the
// bounds and the doubling after a time-out.
#include <gtest/gtest.h>

#include <vector>

#include "fleet_timer.h"

namespace {
// A sample in ms, or -1 for a time-out.
constexpr int TIMEOUT = -1;

int waitAfter(const std::vector<int>& events, int minWaitMs = 200)
{
    ReplyTimer timer{};
    startTimer(&timer, minWaitMs);
    for (int event : events) {
        if (event == TIMEOUT)
            noteTimeout(&timer);
        else
            sampleRoundTrip(&timer, event);
    }
    return replyWaitMs(timer);
}
}  // namespace

TEST(FleetReplyTimer, FollowsTheDevicesRoundTripsWithinItsBounds)
{
    struct Case {
        const char* rule;
        std::vector<int> events;
        int minWaitMs;
        int expected;
    };
    const std::vector<Case> cases = {
        {"nothing measured yet", {}, 200, 1000},
        {"estimate plus four variances: 1000 + 4 * 500", {1000}, 200, 3000},
        {"a quick device waits the minimum", {10}, 200, 200},
        {"the minimum is the operator's", {10}, 50, 50},
        {"smoothed: 7/8 of 1000 and 1/8 of 200, variance 3/4 of 500 and 1/4 of 800",
         {1000, 200},
         200,
         900 + 4 * 575},
        {"doubled after each time-out", {1000, TIMEOUT}, 200, 6000},
        {"never above 10 s", {1000, TIMEOUT, TIMEOUT}, 200, 10000},
        {"a slow device waits 10 s at most", {8000}, 200, 10000},
        {"a counted sample ends the doubling", {1000, TIMEOUT, TIMEOUT, 1000}, 200, 1000 + 4 * 375},
        {"time-outs before any sample double the first wait", {TIMEOUT, TIMEOUT}, 200, 4000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(waitAfter(c.events, c.minWaitMs), c.expected) << c.rule;
}
