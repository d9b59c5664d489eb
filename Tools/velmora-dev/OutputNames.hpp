#pragma once

// Names of the files a batch command writes, one per input, none written twice in one run.

#include <string>
#include <vector>

namespace velmora::dev {

/// For each input path, its file name without the extension; a name an earlier input of the list
/// already has becomes "<name>-2", else "<name>-3", ... (the first free one). Names are compared
/// exactly, as the file system does.
std::vector<std::string> uniqueOutputNames(const std::vector<std::string>& inputs);

}  // namespace velmora::dev
