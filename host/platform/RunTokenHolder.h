#pragma once

// Holds the process run token for the lifetime of the object: a host thread
// builds one before it calls module code. Blocks until the token is free.
class RunTokenHolder {
  public:
    RunTokenHolder();
    ~RunTokenHolder();
    RunTokenHolder(const RunTokenHolder&) = delete;
    RunTokenHolder& operator=(const RunTokenHolder&) = delete;

    // Whether the calling thread holds the token now.
    static bool heldByCurrentThread();
};
