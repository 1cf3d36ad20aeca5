#include "host/common/StopSignals.h"

#include <pthread.h>
#include <sys/signalfd.h>

#include <csignal>

int stopSignals(bool hangUp) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    if (hangUp) sigaddset(&signals, SIGHUP);
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return -1;
    return ::signalfd(-1, &signals, SFD_CLOEXEC);
}
