#include "host/common/PropsEdit.h"

#include "host/common/PropertyText.h"
#include "host/common/PropsTarget.h"
#include "properties/Properties.h"

namespace {

using A = PropertyAttributes;

// The copy as the set holds it, looked up as the server (the caller's own
// rights are checked by the put or remove that follows).
bool held(Properties& set, const Symbol& name, std::uint32_t index, Property& copy) {
    copy.name = name;
    copy.index = index;
    return index != 0 && set.get(copy, A::Server) == Properties::GET_OK;
}

// The copies of a name as a set holds them, in index order.
std::vector<Property> copiesOf(Properties& set, const Symbol& name) {
    std::vector<Property> copies;
    Property p;
    p.name = name;
    while (set.get_next(p, A::Server, true) == Properties::NEXT_OK) copies.push_back(p);
    return copies;
}

// Why the class may not give an existing copy new attributes ("" if it may).
// New attributes replace the copy whole: that is changing its rights, which a
// class below Privileged may not do even on a copy it may write.
String attributeRefusal(const Property& existing, A::AccessType access) {
    if (!existing.attributes.writeable(access))
        return putRefusal(Properties::PUT_NO_PERMISSION, access, existing.name.text(),
                          existing.index);
    if (access == A::Server || access == A::Privileged) return String();
    return String("class ") + accessClassName(access) +
           " may not change the attributes of an existing copy (Server and Privileged may); "
           "give no attribute options to change the value only";
}

}  // namespace

int PropsEdit::apply(Properties& set, const Request& request, Outcome& outcome, String& refusal) {
    int status = request.action == Action::Write   ? write(set, request, outcome, refusal)
                 : request.action == Action::Reset ? reset(set, request, outcome, refusal)
                                                   : remove(set, request, outcome, refusal);
    outcome.left = set.count();
    return status;
}

int PropsEdit::write(Properties& set, const Request& request, Outcome& outcome, String& refusal) {
    Property p = request.wanted;
    if (static_cast<long>(p.name.length()) > Property::maxNameLength) {
        refusal = "a property name has at most " + std::to_string(Property::maxNameLength) +
                  " bytes; this one has " + std::to_string(p.name.length());
        return 1;
    }
    Property existing;
    bool replacing = held(set, p.name, p.index, existing);
    if (!request.attributesGiven) {
        std::optional<A> known = PropsTarget::knownAttributes(set, p.name);
        if (replacing)
            p.attributes = existing.attributes;
        else if (known)
            p.attributes = *known;
    } else if (replacing) {
        if (!(refusal = attributeRefusal(existing, request.access)).empty()) return 1;
        Property gone = existing;
        set.remove(gone, request.access);
    }
    int result = set.put(p, request.access);
    if (result != Properties::PUT_OK) {
        // A new copy's refusal is about the name: the index was only proposed.
        refusal = putRefusal(result, request.access, p.name.text(), request.wanted.index);
        return 1;
    }
    outcome.verb = replacing ? "replaced" : "added";
    outcome.written.push_back(p);
    return 0;
}

int PropsEdit::reset(Properties& set, const Request& request, Outcome& outcome, String& refusal) {
    const Symbol& name = request.wanted.name;
    Properties* knowns = set.getKnown().knowns;
    std::vector<Property> defaults = knowns ? copiesOf(*knowns, name) : std::vector<Property>();
    if (defaults.empty()) {
        refusal = "the kind has no default for '" + terminalText(name.text()) + "'";
        return 1;
    }
    std::size_t before = set.count();
    Property all;
    all.name = name;
    int result = set.remove(all, request.access);
    if (result != Properties::REMOVE_OK && result != Properties::REMOVE_NO_SUCH_PROPERTY) {
        refusal = removeRefusal(result, request.access, name.text(), 0);
        return 1;
    }
    outcome.removed = before - set.count();
    for (Property p : defaults) {
        if ((result = set.put(p, request.access)) != Properties::PUT_OK) {
            refusal = putRefusal(result, request.access, name.text(), p.index);
            return 1;
        }
        outcome.written.push_back(p);
    }
    outcome.verb = "reset";
    return 0;
}

int PropsEdit::remove(Properties& set, const Request& request, Outcome& outcome, String& refusal) {
    Property p;
    if (!request.all) p.name = request.wanted.name;
    p.index = request.wanted.index;
    std::size_t before = set.count();
    int result = set.remove(p, request.access);
    if (result != Properties::REMOVE_OK) {
        refusal =
            removeRefusal(result, request.access, request.wanted.name.text(), request.wanted.index);
        return 1;
    }
    outcome.verb = "removed";
    outcome.removed = before - set.count();
    return 0;
}
