#include "sim_usage.h"

#include "sim_options.h"

const ExitStatusRow simExitStatuses[5] = {
    {SIM_EXIT_OK, "the finish packet arrived and every check passed"},
    {SIM_EXIT_CHECK_FAILED,
     "a check failed or the finish packet was refused (the summary says why), or the image was "
     "not written"},
    {SIM_EXIT_USAGE, "usage error"},
    {SIM_EXIT_NO_BIND, "port 69 cannot be bound, or sockets cannot be set up"},
    {SIM_EXIT_NO_FINISH, "no finish packet: idle limit, packet count or NACK 4, 6 or 8 first"},
};

void writeUsage(std::FILE* to)
{
    std::fputs(simUsageText, to);
    std::fputs(exitStatusText(simExitStatuses).c_str(), to);
    std::fflush(to);
}
