#include "sim_sequence.h"

#include <cstdio>

namespace {
void misfit(SimAnswer* answer, bool* reported, const char* problem)
{
    if (*reported)
        return;
    *reported = true;
    appendLine(answer, ", %s", problem);
    noteFailure("finish: %s", problem);
}
}  // namespace

bool packetsFitFinish(int first, int end, bool packaged, SimAnswer* answer)
{
    bool outside = false;
    bool badCount = false;
    bool badFlags = false;
    int laterStart = -1;  // first packet after the page header's, in a package
    int laterFlags = 0;
    char problem[128];
    for (const auto& [start, packet] : simState.packetsByStart) {
        if (start < first || start >= end) {
            if (end > first)
                std::snprintf(problem, sizeof problem, "packet %d outside the finish range %d to %d",
                              start, first, end - 1);
            else
                std::snprintf(problem, sizeof problem, "packet %d but the finish range is empty",
                              start);
            misfit(answer, &outside, problem);
            continue;
        }
        int wanted = end - start < PAGES_PER_PACKET ? end - start : PAGES_PER_PACKET;
        if (packet.pageCount != wanted) {
            std::snprintf(problem, sizeof problem, "packet %d pageCount %d, wanted %d", start,
                          packet.pageCount, wanted);
            misfit(answer, &badCount, problem);
        }
        if (!packaged && (packet.flags & FLAG_ENCRYPTED)) {
            std::snprintf(problem, sizeof problem, "packet %d flagged enciphered in a plain image",
                          start);
            misfit(answer, &badFlags, problem);
        }
        if (!packaged || (packet.flags & FLAG_PAGE_HEADER))
            continue;
        if (laterStart < 0) {
            laterStart = start;
            laterFlags = packet.flags;
        } else if (packet.flags != laterFlags) {
            std::snprintf(problem, sizeof problem, "packet %d flags 0x%02x, packet %d 0x%02x",
                          start, packet.flags, laterStart, laterFlags);
            misfit(answer, &badFlags, problem);
        }
    }
    return !outside && !badCount && !badFlags;
}
