// What the handler of the signals that end the process does for a running development server
// (interrupts_posix.cc): only async-signal-safe calls.
#pragma once

namespace zoqc {

// Kills PHP's server and waits for it (its port is then free), and removes the private folder;
// does nothing when no server runs, or when it was done already.
void StopDevServerFromSignal();

}  // namespace zoqc
