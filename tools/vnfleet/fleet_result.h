// What became of one device.
#pragma once

// NOT_BACK: updated, but with --await-ping no echo reply came in time.
enum class FleetResult { UPDATED, FAILED, INTERRUPTED, SKIPPED, NOT_STARTED, NOT_BACK };

// The word the report and the console use.
const char* resultName(FleetResult result);
// The word back; false for a word that names no result.
bool resultOfName(const char* name, FleetResult* result);
