#pragma once

#include "admin/Fid_property_base.h"

// Form 2: reads, checks, adds, changes and removes one known
// property of one of the four kinds. Reply: 18 fields, the property fields with
// base 0. list, valid and list_count are the framework's.
class Fid_property : public Fid_property_base {
  public:
    static constexpr int number = 2;
    static constexpr int replyFields = 18;

    Fid_property() : Fid_property_base(number) {}

    int add(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no) override;
    int addv(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no) override;
    int chg(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no) override;
    int get(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no) override;
    int rem(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no) override;
};
