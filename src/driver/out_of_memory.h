// Running out of memory ends a run in the failure report and exit code 217, however little
// memory there is left to make the report with.
#pragma once

namespace zoqc {

// Reserves a little memory that the first failed allocation gives back before std::bad_alloc
// is thrown, so that the report can be made, and makes a failure that cannot even throw
// std::bad_alloc print the report itself and exit with 217. Call at start-up, before any
// thread; calling again does nothing more.
void PrepareForOutOfMemory();

// Makes the report go to standard error: standard output carries a protocol (the language
// server) that the report's bytes would corrupt.
void ReportOutOfMemoryOnStandardError();

// Takes the reserve again after a run has reported running out of memory; does nothing when
// the reserve is held or cannot be had.
void RenewOutOfMemoryReserve();

}  // namespace zoqc
