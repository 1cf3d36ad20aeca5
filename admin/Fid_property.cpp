#include "admin/Fid_property.h"

#include "platform/Trace.h"

namespace {

using A = PropertyAttributes;

constexpr int kFailed = 1023;

}  // namespace

int Fid_property::get(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no) {
    if (MC_current_trace_level() > 2)
        MC_std_trace() << "get known-server-properties - OP_GET" << verbose;
    rval = 2;
    ecode = 0;
    field_no = -1;
    buffer.reply(replyFields);
    for (int field = 3; field < replyFields; ++field) buffer.out_field(field, "");
    Property p;
    Properties* knowns = nullptr;
    if (!addressed(buffer, 1, knowns, p, rval, ecode)) return kFailed;
    if (MC_current_trace_level() > 2)
        MC_std_trace() << "fid_property get(" << p.name << ", PropertyAttributes::Server)"
                       << verbose;
    switch (knowns->get(p, A::Server)) {
        case Properties::GET_OK:
        case Properties::GET_NO_PERMISSION:
            fill_buf(buffer, 0, p);
            return 0;
        default:
            MC_std_trace() << "fid_property - can't find property:  " << p.name << trace;
            rval = 3;
            ecode = 2;
            return kFailed;
    }
}

int Fid_property::addv(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no) {
    if (MC_current_trace_level() > 2)
        MC_std_trace() << "get known-server-properties - OP_ADDV" << verbose;
    rval = 1;
    ecode = 0;
    field_no = -1;
    buffer.reply(replyFields);
    Property p;
    Properties* knowns = nullptr;
    if (!addressed(buffer, 1, knowns, p, rval, ecode)) return kFailed;
    if (MC_current_trace_level() > 2)
        MC_std_trace() << "fid_property get(" << p.name << ", PropertyAttributes::Server)"
                       << verbose;
    switch (knowns->get(p, A::Server)) {
        case Properties::GET_NO_SUCH_PROPERTY:
            return 0;
        case Properties::GET_NO_PERMISSION:
            MC_std_trace() << "fid_property - unexpected error - no permission for property:  "
                           << p.name << trace;
            [[fallthrough]];
        default:
            rval = 3;
            ecode = 3;
            return kFailed;
    }
}

int Fid_property::add(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no) {
    if (MC_current_trace_level() > 2)
        MC_std_trace() << "get known-server-properties - OP_ADD" << verbose;
    rval = 1;
    ecode = 0;
    field_no = -1;
    buffer.reply(replyFields);
    Property p;
    return fill_attrs(buffer, 0, p, rval, ecode, field_no) ? 0 : kFailed;
}

int Fid_property::chg(Buffer& buffer, unsigned int flags, int& rval, int& ecode, int& field_no) {
    // A change is an add that replaces the named property.
    return add(buffer, flags, rval, ecode, field_no);
}

int Fid_property::rem(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no) {
    if (MC_current_trace_level() > 2)
        MC_std_trace() << "rem known-server-properties - OP_REMOVE" << verbose;
    rval = 1;
    ecode = 0;
    field_no = -1;
    buffer.reply(replyFields);
    Property p;
    Properties* knowns = nullptr;
    if (!addressed(buffer, 1, knowns, p, rval, ecode)) return kFailed;
    if (p.name.empty()) {
        rval = 3;
        ecode = 2;
        return kFailed;
    }
    p.index = 0;
    switch (knowns->remove(p, A::Server)) {
        case Properties::REMOVE_OK:
            knowns->save();
            return 0;
        case Properties::REMOVE_NO_SUCH_PROPERTY:
            MC_std_trace() << "Fid_Property::rem() - " << p.name
                           << " failed - REMOVE_NO_SUCH_PROPERTY" << trace;
            rval = 3;
            ecode = 2;
            return kFailed;
        default:
            MC_std_trace() << "Fid_Property::rem() - " << p.name
                           << " failed - REMOVE_NO_PERMISSSION - should be able to happen" << oops;
            rval = 3;
            ecode = 4;
            return kFailed;
    }
}
