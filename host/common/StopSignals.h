#pragma once

// Blocks SIGTERM and SIGINT (and SIGHUP with hangUp: a daemon's "read your
// files again") in the calling thread and in every thread it starts
// afterwards (they inherit the mask), and returns a descriptor (signalfd)
// that reads them; -1 with errno set when they cannot be taken. Call before
// starting threads: a server then stops from ordinary code that reads the
// descriptor, never from a signal handler.
int stopSignals(bool hangUp = false);
