#pragma once

// Package mode: loads settings.fileName as settings.fileType says, builds
// and enciphers the package body and writes main.enc, dsp.enc, java.enc,
// logo.enc or html.enc into the current directory. Returns 1 when the
// package was written, 0 otherwise (the message has been printed); the
// process ends with status 1 either way.
int encryptFile();
