// A device's reply wait, adapted to that device: a smoothed round trip and
// its variance, Karn's rule, doubling after each time-out.
#pragma once

struct ReplyTimer {
    bool measured;    // a round trip has been sampled
    double smoothedMs;
    double varianceMs;
    int backoffs;     // time-outs since the last counted sample
    int minWaitMs;
};

void startTimer(ReplyTimer* timer, int minWaitMs);
// A round trip of a packet sent once; a resent packet's reply is not
// counted, as it may answer either send.
void sampleRoundTrip(ReplyTimer* timer, int milliseconds);
void noteTimeout(ReplyTimer* timer);
// Estimate plus four variances, within the minimum and 10,000 ms, doubled
// for each time-out since the last sample.
int replyWaitMs(const ReplyTimer& timer);
