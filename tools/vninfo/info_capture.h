// Holds back what the project's loaders print, so VNinfo can
// report it in its own words and format.
#pragma once

#include <string>

void startCapture();
// Stops holding back and returns what was printed meanwhile.
std::string stopCapture();
