#pragma once

#include <string>

namespace tremolan {

/// The identifier under which this machine looks up its row of the model-support table. Linux
/// has no hardware model string of the kind the table lists, so it is configuration: the
/// environment variable TREMOLAN_DEVICE_IDENTIFIER when set and not empty, else "linux-" and
/// the machine's architecture ("linux-x86_64"), which no table row names, so the default
/// support applies.
std::string currentDeviceIdentifier();

}  // namespace tremolan
