#pragma once

#include <cstdio>

#include "platform/String.h"

// Process services of the operating system, through the platform so that
// tests can make them fail.
class Process {
  public:
    // popen(3): runs command through the shell; null with errno on failure.
    static FILE* popen(const String& command, const char* mode);
    // pclose(3): waits for the command and returns its status.
    static int pclose(FILE* pipe);
    // system(3). Blocks: call it inside blockingCall.
    static int system(const String& command);
    // getenv(3): null when the variable is not set.
    static const char* getenv(const String& name);
};
