// The end of a VNsim run: the image file, the one-line summary and the
// exit status.
#pragma once

// Writes the image (when -o was given and the finish packet came), prints
// the summary and returns the exit status. stopReason says why the run
// ended before a finish packet ("idle for 500 ms"), nullptr otherwise.
int endRun(const char* stopReason);
