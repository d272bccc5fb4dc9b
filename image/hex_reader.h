#pragma once

// Loads an Intel HEX file into imageBuffer: byte mode for TYPE_MAIN_HEX,
// word mode (and the word image) for TYPE_DSP_HEX. 1 on success, 0 after
// a failure whose message has been printed.
int readHexFile(const char* fileName, int fileType);

// The reader's character classes: white space as the C library has it, and
// a hex digit's value (-1 for any other character).
bool isHexSpace(char c);
int hexDigitValue(char c);
