#pragma once

#include <iosfwd>
#include <vector>

#include "platform/Path.h"
#include "platform/String.h"

// Sample contents for a newcomer's platform root: a defaults file with a few
// known properties for each of the four kinds of set, and a few sets that
// use them (the system set, one message's property file, classes of service
// 1 and 2, subscriber 1001), and a parameter file. Only what is missing is written: an existing
// file or record is left as it is.
//
// Class-of-service and subscriber records are written by their owner box
// (333) only; the demo writes them in this process as that box would, with
// Properties::myPBox set to 333 for the writes and restored afterwards.
// Needs the platform directories (InitCommand makes them first).
class DemoContent {
  public:
    // Where the sample message's properties live.
    static const Path messageFile;

    // Writes what is missing, adding one line per thing created to created.
    // False with the reason on err when something could not be written.
    static bool write(std::vector<String>& created, std::ostream& err);

  private:
    static bool writeParameters(std::vector<String>& created, std::ostream& err);
};
