#pragma once

#include "tests/testing/PlatformFixture.h"

// A platform root whose directory and message store (the stand-in's
// database) hold a small network: nodes of every kind, users, one complete
// address and a few message-store items (see DirectoryFixture.cpp).
class DirectoryFixture : public PlatformFixture {
  protected:
    void SetUp() override;

    // Adds rows, failing the test when the database refuses them.
    void item(long item) const;
    void attribute(long item, short attr, const String& value) const;
};
