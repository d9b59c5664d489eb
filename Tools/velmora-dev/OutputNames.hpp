#pragma once

// Names of the files a command writes: one per input, none written twice in one run, and none over
// one of the command's own inputs.

#include <filesystem>
#include <string>
#include <vector>

namespace velmora::dev {

/// For each input path, its file name without the extension; a name an earlier input of the list
/// already has becomes "<name>-2", else "<name>-3", ... (the first free one). Names are compared
/// exactly, as the file system does.
std::vector<std::string> uniqueOutputNames(const std::vector<std::string>& inputs);

/// Throws UsageError, naming the command, the output and the input, when an output is the very file
/// of an input (the same device and inode, links followed as the kernel follows them), before the
/// command does any work: a recording must not become its own transcript, nor a model's file or a
/// tokenizer's. A folder among the inputs stands for the files directly in it (a tokenizer's) and
/// every file within the model bundles in it (*.mlmodelc, *.mlpackage, however deep). An output
/// that does not exist yet, or is no regular file (a pipe, a device), is no input's.
void refuseOutputsOverInputs(const std::string& command, const std::vector<std::filesystem::path>& outputs,
                             const std::vector<std::filesystem::path>& inputs);

}  // namespace velmora::dev
