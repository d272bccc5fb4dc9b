// The files a run writes: opened (or made) first, then known by what they
// are, not by their names. An output may not be an input (the list, an
// image, the password file, the resume file), nor the other output, nor a
// folder, device or FIFO; the report and the resume file are held by this
// run alone. An operator's slip must not destroy a list, an image or a record.
#pragma once

#include <cstdio>
#include <vector>

#include "fleet_images.h"
#include "fleet_options.h"

struct FleetOutputs {
    std::FILE* report = nullptr;    // open for appending and locked
    std::FILE* debugLog = nullptr;  // open for appending
    std::FILE* resume = nullptr;    // open for reading and locked (maybe the report)
    bool reportIsResumed = false;   // --report names the --resume file
    std::vector<std::string> made;  // files this run made, gone again on a refusal
};

// Opens the outputs (--dry-run: only to see that they open, made files go
// again) and the resume file; false after saying why, with nothing written.
bool openOutputs(const FleetOptions& options, const std::vector<FleetImage>& images,
                 FleetOutputs* outputs);
// Closes what is still open and removes the files made (a refusal, --dry-run).
void dropOutputs(FleetOutputs* outputs);
