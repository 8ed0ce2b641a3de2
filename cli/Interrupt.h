#pragma once
// Ctrl-C and termination requests. The handler only records the signal; the conversion
// notices it at its next progress tick and cleans up on the main thread.

namespace ruvo {

// Installs the handlers for SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2 and SIGALRM
// (system calls restart after them, so a read in progress is not cut short), and ignores
// SIGXFSZ and SIGPIPE so that a file growing past the size limit or a closed standard error
// fails its write, which is reported and cleaned up, instead of killing the process.
void InstallInterruptHandlers();
// The signal received, 0 while none.
int InterruptSignal();

}  // namespace ruvo
