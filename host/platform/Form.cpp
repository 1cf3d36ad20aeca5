#include "platform/Form.h"

#include <string>

#include "host/platform/AdmJournal.h"

Form::Form(Adm_Forms*& registry, int kind, int number) : registry_(&registry), number_(number) {
    auto* entry = new Adm_Forms{this, kind, number, nullptr};
    Adm_Forms** tail = &registry;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = entry;
    AdmJournal::note("form " + std::to_string(number) + " registered with " + std::to_string(kind));
}

Form::~Form() {
    for (Adm_Forms** link = registry_; *link != nullptr; link = &(*link)->next)
        if ((*link)->form == this) {
            Adm_Forms* gone = *link;
            *link = gone->next;
            delete gone;
            break;
        }
    AdmJournal::note("form " + std::to_string(number_) + " left");
}

namespace {

int notSupported(int& rval, int& ecode, int& field_no) {
    rval = 3;
    ecode = ADM_NOT_SUPPORTED;
    field_no = -1;
    return 1023;
}

}  // namespace

int Form::add(Buffer&, unsigned int, int& rval, int& ecode, int& field_no) {
    return notSupported(rval, ecode, field_no);
}

int Form::addv(Buffer&, unsigned int, int& rval, int& ecode, int& field_no) {
    return notSupported(rval, ecode, field_no);
}

int Form::chg(Buffer&, unsigned int, int& rval, int& ecode, int& field_no) {
    return notSupported(rval, ecode, field_no);
}

int Form::get(Buffer&, unsigned int, int& rval, int& ecode, int& field_no) {
    return notSupported(rval, ecode, field_no);
}

int Form::list(Buffer&, unsigned int, int& rval, int& ecode, int& field_no) {
    return notSupported(rval, ecode, field_no);
}

int Form::rem(Buffer&, unsigned int, int& rval, int& ecode, int& field_no) {
    return notSupported(rval, ecode, field_no);
}

int Form::valid(Buffer&, unsigned int, int& rval, int& ecode, int& field_no) {
    return notSupported(rval, ecode, field_no);
}

int Form::list_count(Buffer&, int&, int& rval, int& ecode, int& field_no) {
    return notSupported(rval, ecode, field_no);
}
