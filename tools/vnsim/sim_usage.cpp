#include "sim_usage.h"

#include <cstdarg>

#include "sim_options.h"

const SimExitStatus simExitStatuses[] = {
    {SIM_EXIT_OK, "the finish packet arrived and every check passed"},
    {SIM_EXIT_CHECK_FAILED, "a check failed (the summary names it), or the image was not written"},
    {SIM_EXIT_USAGE, "usage error"},
    {SIM_EXIT_NO_BIND, "port 69 cannot be bound, or sockets cannot be set up"},
    {SIM_EXIT_NO_FINISH, "no finish packet: idle limit, packet count or NACK 4, 6 or 8 first"},
};
const int simExitStatusCount = sizeof simExitStatuses / sizeof simExitStatuses[0];

void writeUsage(std::FILE* to)
{
    std::fputs(simUsageText, to);
    std::fputs("Exit status:\n", to);
    for (const SimExitStatus& exit : simExitStatuses)
        std::fprintf(to, "  %d  %s\n", exit.status, exit.meaning);
    std::fflush(to);
}

void simError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}
