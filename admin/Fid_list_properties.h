#pragma once

#include "admin/Fid_property_base.h"

// Form 1: lists a kind's known properties four to a reply (69
// fields: the selector, then four entries at bases 0, 17, 34 and 51). A
// request that repeats the last reply's fields 52 and 53 (the fourth entry's
// name) asks for the next page. Every other operation is the framework's.
class Fid_list_properties : public Fid_property_base {
  public:
    static constexpr int number = 1;
    static constexpr int replyFields = 69;
    static constexpr int entries = 4;
    static constexpr int entryFields = 17;
    // The request fields of the name the listing continues after.
    static constexpr int startField = 52;
    // The ecode of a full page: more entries may follow.
    static constexpr int moreFollow = 501;

    Fid_list_properties() : Fid_property_base(number) {}

    int list(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no) override;
};
