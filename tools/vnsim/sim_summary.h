// The end of a VNsim run: the image file, the one-line summary and the
// exit status.
#pragma once

// Writes the image (when -o was given and the finish packet came), prints
// the summary and returns the exit status. stopReason says why the run
// ended before a finish packet ("idle for 500 ms"), nullptr otherwise.
int endRun(const char* stopReason);

// The same for the device simState points at, without printing: the line
// starts with prefix and the image goes to outputPath (none when empty).
int summarizeDevice(const char* prefix, const char* stopReason, const char* outputPath);
// The line summarizeDevice made.
const char* deviceSummary();
