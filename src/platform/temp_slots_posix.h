// The table of named temporary files in flight, which the handler of the signals that end the
// process removes (interrupts_posix.cc). Only files_posix.cc names temporaries.
#pragma once

#include <sys/types.h>

namespace zoqc {

// Claims a slot for a name in the directory ADirFd, which stays open while the slot is held;
// -1 when every slot is taken (the name then goes unguarded).
int ClaimTempSlot(int ADirFd);

// Sets the name (at most 31 bytes, relative to the directory) that the slot guards: from now
// on a signal removes it. Does nothing for slot -1.
void GuardTempName(int ASlot, const char* AName);

// Gives the slot back; its name is no longer removed on a signal. Does nothing for slot -1.
void ReleaseTempSlot(int ASlot);

// Records the helper process APid, which a signal that ends zoqc kills too; the slot, or -1
// when every slot is taken (the process then goes unguarded).
int ClaimChildSlot(pid_t APid);

// Forgets the helper of the slot (it has been reaped). Does nothing for slot -1.
void ReleaseChildSlot(int ASlot);

}  // namespace zoqc
