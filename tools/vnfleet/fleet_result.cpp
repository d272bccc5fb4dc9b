#include "fleet_result.h"

#include <cstring>
#include <iterator>

namespace {
const char* const names[] = {"updated", "failed", "interrupted", "skipped", "not back"};
}

const char* resultName(FleetResult result)
{
    return names[static_cast<int>(result)];
}

bool resultOfName(const char* name, FleetResult* result)
{
    for (int i = 0; i < static_cast<int>(std::size(names)); ++i)
        if (std::strcmp(names[i], name) == 0) {
            *result = static_cast<FleetResult>(i);
            return true;
        }
    return false;
}
