#pragma once

#include <map>
#include <vector>

#include "host/platform/AdmServer.h"
#include "properties/Property.h"
#include "tests/testing/PlatformFixture.h"

// Requests to the module's forms in process, through the registry `Forms` as
// the server walks it, on a fresh platform root.
class AdminFixture : public PlatformFixture {
  public:
    // Request fields 0 to 17 of an add or change.
    static std::map<int, String> attributeFields(const String& kind, const String& name,
                                                 const String& flags = "RWRW--------",
                                                 const String& forwardable = "n",
                                                 const String& version = "1",
                                                 const String& type = "0");

    // The first n of result, rval, ecode and field_no, to compare in one go.
    static std::vector<int> codes(const AdmAnswer& a, std::size_t n = 4) {
        std::vector<int> all{a.result, a.rval, a.ecode, a.field_no};
        return {all.begin(), all.begin() + static_cast<long>(n)};
    }

  protected:
    // A known property as a defaults file holds it: readable and writeable by
    // the classes named, with a value.
    struct KnownSpec {
        String name;
        PropertyAttributes::AccessType read = PropertyAttributes::Minimal;
        PropertyAttributes::AccessType write = PropertyAttributes::Server;
        bool readable = true;  // false: no class may read it
    };

    // Runs one request: fields by number; `unreadable` fields cannot be
    // read. Checks that the form wrote no field outside its reply.
    AdmAnswer request(int form, AdmOp op, const std::map<int, String>& fields,
                      const std::vector<int>& unreadable = {});
    const String& reply(int field) const { return buffer_.reply_field(field); }
    int replySize() const { return buffer_.reply_size(); }

    // Writes a defaults file and gives it a modification time no earlier
    // test used, so a known set cached from an earlier root is reread.
    void writeDefaults(const Path& path, const std::vector<KnownSpec>& knowns);
    // The property a stored file holds under name (index 1), read directly.
    bool storedProperty(const Path& path, const String& name, Property& p);

    Buffer buffer_;
};
