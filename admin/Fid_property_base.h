#pragma once

#include "admin/Group.h"
#include "properties/Properties.h"

// The base of the two property forms: which known set a request
// addresses, a name in two fields, one property's reply fields, and a
// request's attribute fields written into the addressed known set. Every
// set operation acts for PropertyAttributes::Server.
class Fid_property_base : public Group {
  public:
    explicit Fid_property_base(int number) : Group(number) {}

    // The longest name part field b+1 carries; the rest goes to b+2.
    static constexpr std::size_t nameSplit = 70;

    // Resolves the selector of request field 0 (echoed upper-cased in reply
    // field 0) to its kind's known set, rereading the kind's defaults file
    // when it changed on disk.
    bool get_known_properties(Buffer& buffer, Properties*& knowns);
    // Reads the name from request fields `field` and `field` + 1; a
    // non-empty name is set with index 1, an empty one leaves p as it was.
    // False when either field cannot be read.
    bool get_property_name(Buffer& buffer, int field, Property& p);
    // Both of the above, as every request that names a property starts: false
    // after setting rval 3 and ecode 1 (an invalid request).
    bool addressed(Buffer& buffer, int field, Properties*& knowns, Property& p, int& rval,
                   int& ecode);
    // Writes p into reply fields base+1 to base+17.
    void fill_buf(Buffer& buffer, int base, Property& p);
    // Reads a whole property from request fields 0 to 17, puts it into the
    // addressed known set and saves the set. False after setting the outputs.
    bool fill_attrs(Buffer& buffer, int unused, Property& p, int& rval, int& ecode, int& field_no);
};
