// VNinfo's command line.
#pragma once

#include "fitness_options.h"

extern const char infoUsageText[];  // the options; info_usage.h adds the exit statuses

constexpr int INFO_ARGS_BAD = 0;   // a message has been printed
constexpr int INFO_ARGS_RUN = 1;
constexpr int INFO_ARGS_HELP = 2;

int parseInfoOptions(int argc, const char* const* argv);
