#include "admin/Fid_property_base.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "admin/PropertyDBmap.h"
#include "platform/Trace.h"

namespace {

using A = PropertyAttributes;

// AccessInfo: the field offset of each access type's read flag (its write
// flag is the next field), in the order the rights fall through from one
// type to the next, then a row of zeros.
struct AccessRow {
    std::int32_t offset;
    std::int32_t type;
};

const AccessRow AccessInfo[] = {
    {3, A::Server},      {5, A::Privileged}, {7, A::Trusted}, {9, A::Standard},
    {11, A::Restricted}, {13, A::Minimal},   {0, 0}};

constexpr int forwardableField = 15;
constexpr int versionField = 16;
constexpr int typeField = 17;

String upperCase(const char* text) {
    String upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

}  // namespace

bool Fid_property_base::get_known_properties(Buffer& buffer, Properties*& knowns) {
    PropertyDBtypes.fill();
    char* text = nullptr;
    if (buffer.in_field(0, text) != 0) {
        MC_std_trace() << "Properties DB Type Field: in_field (" << 0 << ") FAILED" << trace;
        return false;
    }
    String selector = upperCase(text);
    buffer.out_field(0, selector.c_str());
    Properties* kind = PropertyDBtypes.find(selector);
    if (kind == nullptr) return false;
    Properties::knownInfo* record = kind->cachedKnown();
    if (record == nullptr || record->knowns == nullptr || record->knowns->underlierChanged()) {
        record = &kind->getKnown();
        kind->setCachedKnown(record);
    }
    if (record->knowns == nullptr) {
        MC_std_trace() << "Known Properties for " << selector << " is NULL!" << oops;
        return false;
    }
    knowns = record->knowns;
    return true;
}

bool Fid_property_base::get_property_name(Buffer& buffer, int field, Property& p) {
    char* first = nullptr;
    char* second = nullptr;
    if (buffer.in_field(field, first) != 0) {
        MC_std_trace() << "name field: in_field OF NAME1 (" << field << ") FAILED" << trace;
        return false;
    }
    if (buffer.in_field(field + 1, second) != 0) {
        MC_std_trace() << "name (part 2) field: in_field OF NAME FAILED" << trace;
        return false;
    }
    std::size_t firstLength = std::strlen(first);
    std::size_t secondLength = std::strlen(second);
    if (firstLength + secondLength == 0) return true;
    if (secondLength == 0) {
        // A name that fits the first field is interned from it as it stands.
        p.name = Symbol(std::string_view(first, firstLength));
    } else {
        String name;
        name.reserve(firstLength + secondLength);
        name.append(first, firstLength).append(second, secondLength);
        p.name = Symbol(name);
    }
    p.index = 1;
    return true;
}

void Fid_property_base::fill_buf(Buffer& buffer, int base, Property& p) {
    const String& name = p.name.text();
    if (name.size() > nameSplit) {
        buffer.out_field(base + 1, name.substr(0, nameSplit).c_str());
        buffer.out_field(base + 2, name.c_str() + nameSplit);
    } else {
        buffer.out_field(base + 1, name.c_str());
        buffer.out_field(base + 2, "");
    }
    const PropertyAttributes& attributes = p.attributes;
    for (const AccessRow* row = AccessInfo; row->offset != 0; ++row) {
        auto type = static_cast<A::AccessType>(row->type);
        buffer.out_field(base + row->offset, attributes.readable(type) ? "R" : "-");
        buffer.out_field(base + row->offset + 1, attributes.writeable(type) ? "W" : "-");
    }
    buffer.out_field(base + forwardableField, attributes.forwardable() ? "y" : "n");
    buffer.out_long(base + versionField, attributes.version());
    buffer.out_long(base + typeField, attributes.type());
}

namespace {

// Fields a put's attributes come in: each read into text (a flag) or value
// (a number from 0 to 255). On a failure the field's attribute is traced,
// rval and ecode say why (3 and 1 for a flag) and field_no stays the field.
bool flagField(Buffer& buffer, int field, const char* what, char*& text, int& rval, int& ecode) {
    if (buffer.in_field(field, text) == 0) return true;
    MC_std_trace() << what << " Attribute for field:  " << field << " - in_field FAILED" << trace;
    rval = 3;
    ecode = 1;
    return false;
}

bool byteField(Buffer& buffer, int field, const char* what, long& value, int& rval, int& ecode) {
    if (buffer.in_long(field, 0, 255, value, rval, ecode) == 0) return true;
    MC_std_trace() << what << " Attribute for field:  " << field << " - in_field FAILED" << trace;
    return false;
}

}  // namespace

bool Fid_property_base::fill_attrs(Buffer& buffer, int, Property& p, int& rval, int& ecode,
                                   int& field_no) {
    Properties* knowns = nullptr;
    if (!addressed(buffer, 1, knowns, p, rval, ecode)) return false;
    if (p.name.empty()) {
        rval = 3;
        ecode = 1;
        return false;
    }
    p.index = 1;
    char* text = nullptr;
    for (const AccessRow* row = AccessInfo; row->offset != 0; ++row) {
        auto type = static_cast<A::AccessType>(row->type);
        if (!flagField(buffer, field_no = row->offset, "Read", text, rval, ecode)) return false;
        p.attributes.set_readable(type, text[0] == 'R');
        if (!flagField(buffer, field_no = row->offset + 1, "Write", text, rval, ecode))
            return false;
        p.attributes.set_writeable(type, text[0] == 'W');
    }
    if (!flagField(buffer, field_no = forwardableField, "Forwardable", text, rval, ecode))
        return false;
    p.attributes.set_forwardable(text[0] == 'y');
    long value = 0;
    if (!byteField(buffer, field_no = versionField, "Version", value, rval, ecode)) return false;
    p.attributes.set_version(static_cast<unsigned char>(value));
    if (!byteField(buffer, field_no = typeField, "Type", value, rval, ecode)) return false;
    p.attributes.set_type(static_cast<A::ValueType>(value));
    field_no = -1;
    if (MC_current_trace_level() > 2)
        MC_std_trace() << "fid_property put(" << p.name << ", PropertyAttributes::Server)"
                       << verbose;
    int result = knowns->put(p, A::Server);
    bool saved = knowns->save();
    MC_std_trace() << "fid_property_base - write_to_file() " << (saved ? "SUCCEEDS" : "FAILS")
                   << verbose;
    if (result != Properties::PUT_OK) {
        rval = 3;
        ecode = 1;
        return false;
    }
    return true;
}

bool Fid_property_base::addressed(Buffer& buffer, int field, Properties*& knowns, Property& p,
                                  int& rval, int& ecode) {
    if (get_known_properties(buffer, knowns) && get_property_name(buffer, field, p)) return true;
    rval = 3;
    ecode = 1;
    return false;
}
