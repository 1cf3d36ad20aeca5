#pragma once

// The platform's pause service: the calling thread sleeps for `ticks` ticks of
// the platform clock (a tick is 100 milliseconds in the stand-in). The run
// token is kept: a caller that wants other threads to run gives it up first.
void tsleep(int ticks);
