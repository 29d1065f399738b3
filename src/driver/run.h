// The run sequence.
#pragma once

namespace mv {

// The main routine: every stage once, in order.  Raises Stop or InputError.
// With copyInput false the scratch copy must already be loaded (tmp), as in
// in-process runs.
void mainRoutine(bool copyInput = true);

// Run the main routine in the working directory and turn its ending into an
// exit status, writing the stop message or diagnostic to the error stream.
int runProgram();

}  // namespace mv
