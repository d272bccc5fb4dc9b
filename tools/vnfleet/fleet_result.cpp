#include "fleet_result.h"

#include <cstring>

namespace {
const char* const names[] = {"updated", "failed", "interrupted", "skipped", "not started",
                             "not back"};
constexpr int NAMES = sizeof names / sizeof names[0];
}  // namespace

const char* resultName(FleetResult result)
{
    return names[static_cast<int>(result)];
}

bool resultOfName(const char* name, FleetResult* result)
{
    for (int i = 0; i < NAMES; ++i)
        if (std::strcmp(names[i], name) == 0) {
            *result = static_cast<FleetResult>(i);
            return true;
        }
    return false;
}
