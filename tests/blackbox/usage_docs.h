// A companion's README section and manual page against its --help: the
// same options and the same exit statuses.
#pragma once

#include <string>

// readmeHeading: the section's heading line; manual: relative to the source
// tree.
void expectDocsListTheOptionsAndStatusesOfHelp(const std::string& program,
                                               const std::string& readmeHeading,
                                               const std::string& manual);
