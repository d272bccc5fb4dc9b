#pragma once

// Loads an Intel HEX file into imageBuffer: byte mode for TYPE_MAIN_HEX,
// word mode (and the word image) for TYPE_DSP_HEX. 1 on success, 0 after
// a failure whose message has been printed.
int readHexFile(const char* fileName, int fileType);
