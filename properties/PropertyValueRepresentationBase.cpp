#include "properties/PropertyValueRepresentationBase.h"

PropertyValueRepresentationBase::PropertyValueRepresentationBase() : references_(1) {}

void PropertyValueRepresentationBase::add_reference() {
    ++references_;
}

void PropertyValueRepresentationBase::remove() {
    if (--references_ == 0) delete this;
}

std::uint32_t PropertyValueRepresentationBase::reference_count() const {
    return references_;
}
