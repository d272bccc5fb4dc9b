#include "info_usage.h"

#include "info_options.h"


void writeInfoUsage(std::FILE* to)
{
    std::fputs(infoUsageText, to);
    std::fputs(exitStatusText(infoExitStatuses).c_str(), to);
    std::fputs("With several problems the lowest number is the status.\n", to);
    std::fflush(to);
}
