#include "admin/Fid_list_properties.h"

#include "platform/Trace.h"

int Fid_list_properties::list(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no) {
    if (MC_current_trace_level() > 2)
        MC_std_trace() << "List known-server-properties - OP_LIST" << verbose;
    rval = 2;
    ecode = moreFollow;
    field_no = -1;
    buffer.reply(replyFields);
    for (int field = 0; field < replyFields; ++field) buffer.out_field(field, "");
    Properties* knowns = nullptr;
    Property p;
    if (!addressed(buffer, startField, knowns, p, rval, ecode)) return 1023;
    int base = 0;
    for (int i = entries; i > 0; --i, base += entryFields) {
        MC_std_trace() << "fid_list_properties - i=" << i << ", get_next(" << p.name
                       << ", PropertyAttributes::Server)" << verbose;
        Symbol before = p.name;
        switch (knowns->get_next(p, PropertyAttributes::Server, false)) {
            case Properties::NEXT_OK:
                fill_buf(buffer, base, p);
                break;
            case Properties::NEXT_END:
                ecode = 0;
                return 0;
            default:
                MC_std_trace() << "fid_list_properties - unexpected error - can't find property:  "
                               << before << trace;
                rval = 3;
                ecode = 1;
                return 1023;
        }
    }
    return 0;
}
