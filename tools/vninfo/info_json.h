// The report as one JSON object, for scripts.
#pragma once

#include "info_report.h"

void printJson(const InfoReport& report);
