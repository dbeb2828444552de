// One extraction with every intermediate canvas written into a folder (see
// vantrel_inspect.cpp). Links the extraction library itself, not libVantrel.
#pragma once

#include <string>

#include "tools/vantrel_files.h"

namespace vantrel::tools {

// image: 152 x 200 in reader form. Returns the extraction's result (0 when a record was
// built), -1 with error set when a file could not be written; report gets the findings.
int InspectImage(const Image& image, const std::string& folder, std::string& report,
                 std::string& error);

}  // namespace vantrel::tools
