// The options and exit statuses a companion program's --help lists, and
// those its README section and manual page list, to hold them together.
#pragma once

#include <set>
#include <string>

struct ListedNames {
    std::set<std::string> options;   // "-K", "--json", ...
    std::set<std::string> statuses;  // "0", "1", ...
};

// Options from lines that start with "  -", statuses after "Exit status:".
ListedNames namesInHelp(const std::string& help);
// The README section under heading: options from table rows "| `-x ...` |",
// statuses from rows "| N |".
ListedNames namesInReadme(const std::string& heading);
// A manual page (as "man/VNsim.1"): the .TP items of OPTIONS and EXIT STATUS.
ListedNames namesInManual(const std::string& page);

// Expects the README section under readmeHeading and the manual page to
// list the same options and statuses as help.
void expectDocsListWhatHelpLists(const std::string& help, const std::string& readmeHeading,
                                 const std::string& manualPage);
