#include "fleet_timer.h"

#include "fleet_options.h"

namespace {
constexpr int FIRST_WAIT_MS = 1000;  // before any round trip is known
}

void startTimer(ReplyTimer* timer, int minWaitMs)
{
    *timer = ReplyTimer{false, 0.0, 0.0, 0, minWaitMs};
}

void sampleRoundTrip(ReplyTimer* timer, int milliseconds)
{
    double sample = milliseconds;
    if (!timer->measured) {
        timer->smoothedMs = sample;
        timer->varianceMs = sample / 2;
        timer->measured = true;
    } else {
        double error = sample > timer->smoothedMs ? sample - timer->smoothedMs
                                                  : timer->smoothedMs - sample;
        timer->varianceMs = 0.75 * timer->varianceMs + 0.25 * error;
        timer->smoothedMs = 0.875 * timer->smoothedMs + 0.125 * sample;
    }
    timer->backoffs = 0;
}

void noteTimeout(ReplyTimer* timer)
{
    if (timer->backoffs < 16)
        ++timer->backoffs;
}

int replyWaitMs(const ReplyTimer& timer)
{
    double wait = timer.measured ? timer.smoothedMs + 4 * timer.varianceMs : FIRST_WAIT_MS;
    if (wait < timer.minWaitMs)
        wait = timer.minWaitMs;
    for (int i = 0; i < timer.backoffs && wait < FLEET_REPLY_WAIT_LIMIT_MS; ++i)
        wait *= 2;
    if (wait > FLEET_REPLY_WAIT_LIMIT_MS)
        wait = FLEET_REPLY_WAIT_LIMIT_MS;
    return static_cast<int>(wait);
}
