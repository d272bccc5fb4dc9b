// The report as text for an operator.
#pragma once

#include "info_report.h"

void printText(const InfoReport& report);
