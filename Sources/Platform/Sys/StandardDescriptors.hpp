#pragma once

// The first step of a command-line program: standard input, output and error that it was started
// without (`>&-`) are held, so that the first files it opens do not take their numbers and its
// output does not go into them.

namespace platform::sys {

/// For each of descriptors 0, 1 and 2 that is not open, opens /dev/null in its place as a path
/// only (O_PATH): every read and write of it still fails with EBADF, as on the closed descriptor,
/// and nothing the program opens later takes its number. Closed on exec: a program started later
/// finds it closed, as this one did. Called first thing in main, before any thread starts.
void holdClosedStandardDescriptors();

/// Whether `descriptor` (0, 1 or 2) was closed when holdClosedStandardDescriptors ran: a write to it
/// then fails as on a closed descriptor, not as on one opened for reading.
bool wasClosedAtStart(int descriptor);

}  // namespace platform::sys
