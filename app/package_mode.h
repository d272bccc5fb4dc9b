#pragma once

// Package mode: packages settings.fileName as the settings say. Returns 1
// when the package was written, 0 otherwise (the message has been
// printed); the process ends with status 1 either way.
int encryptFile();
