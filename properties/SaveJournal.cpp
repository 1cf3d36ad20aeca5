#include "properties/SaveJournal.h"

#include <cstring>

#include "platform/Trace.h"
#include "properties/MemoryInput.h"
#include "properties/Properties.h"
#include "properties/PropertyValueString.h"

namespace {

// A set that only holds what a stream gave it: the stored form before a save.
class StreamSet : public Properties {
  public:
    bool obtain(bool) override { return true; }
    bool underlierChanged() const override { return false; }
    PropertiesStatus getStatus() const override { return 0; }
    Symbol myFactoryName() const override { return Symbol(); }
    PropertiesID myKey() const override { return PropertiesID(); }
    void putStatus(const PropertiesStatus&) override {}
    bool saveThem() override { return false; }
    bool underlierKnown() const override { return false; }
    knownInfo& getKnown() override {
        static knownInfo none;
        return none;
    }
    using Properties::obtain;
};

// A copy's value, whether it is a Property or an instance a set keeps.
const PropertyValueRepresentationBase& valueOf(const Property& p) {
    return *p.value.representation();
}

const PropertyValueRepresentationBase& valueOf(const StoredProperty& p) {
    return p.value();
}

// before or after may be null (an added or removed copy), not both.
template <class Before, class After>
JournalChange changeOf(JournalChange::Op op, Symbol name, const Before* before,
                       const After* after) {
    JournalChange change;
    change.op = op;
    change.name = name.text();
    change.index = after != nullptr ? after->index : before->index;
    if (before != nullptr) {
        change.oldValue = String(valueOf(*before));
        change.oldAttributes = String(before->attributes);
    }
    if (after != nullptr) {
        change.newValue = String(valueOf(*after));
        change.newAttributes = String(after->attributes);
    }
    return change;
}

// Whether two values hold the same bytes, without copying them out where
// the bytes are in memory: copies share a representation, and a stored form
// read again holds each short value in memory.
bool sameValue(const PropertyValueRepresentationBase& a, const PropertyValueRepresentationBase& b) {
    if (&a == &b) return true;
    if (a.length() != b.length()) return false;
    auto* x = dynamic_cast<const PropertyValueString*>(&a);
    auto* y = dynamic_cast<const PropertyValueString*>(&b);
    if (x != nullptr && y != nullptr) return x->bytes() == y->bytes();
    return String(a) == String(b);
}

template <class A, class B>
bool sameCopy(const A& a, const B& b) {
    return String(a.attributes) == String(b.attributes) && sameValue(valueOf(a), valueOf(b));
}

// Appends the differences between the instances of one name.
void compareInstances(Symbol name, const PropertyInstances& before, const PropertyInstances& after,
                      std::vector<JournalChange>& out) {
    const StoredProperty* none = nullptr;
    auto b = before.begin(), a = after.begin();
    while (b != before.end() || a != after.end()) {
        if (a == after.end() || (b != before.end() && b->index < a->index)) {
            out.push_back(changeOf(JournalChange::REMOVED, name, &*b++, none));
        } else if (b == before.end() || a->index < b->index) {
            out.push_back(changeOf(JournalChange::ADDED, name, none, &*a++));
        } else {
            if (!sameCopy(*b, *a)) out.push_back(changeOf(JournalChange::CHANGED, name, &*b, &*a));
            ++b;
            ++a;
        }
    }
}

void traceFailure(const char* step, const String& target, int error) {
    MC_std_trace() << "SaveJournal - can't " << step << " the journal record of " << target << ": "
                   << std::strerror(error) << oops;
}

}  // namespace

std::vector<JournalChange> SaveJournal::changes(const Properties& before, const Properties& after) {
    static const PropertyInstances none;
    std::vector<JournalChange> out;
    auto b = before.properties_.begin(), a = after.properties_.begin();
    while (b != before.properties_.end() || a != after.properties_.end()) {
        if (a == after.properties_.end() ||
            (b != before.properties_.end() && b->first < a->first)) {
            compareInstances(b->first, b->second, none, out);
            ++b;
        } else if (b == before.properties_.end() || a->first < b->first) {
            compareInstances(a->first, none, a->second, out);
            ++a;
        } else {
            compareInstances(a->first, b->second, a->second, out);
            ++b;
            ++a;
        }
    }
    return out;
}

std::vector<JournalChange> SaveJournal::changesSinceMatched(const Properties& set) {
    std::vector<JournalChange> out;
    for (const auto& [copy, original] : set.originals_) {
        const StoredProperty* now = nullptr;
        auto held = set.properties_.find(copy.first);
        if (held != set.properties_.end()) {
            auto instance = held->second.find(copy.second);
            if (instance != held->second.end()) now = &*instance;
        }
        const Property* was = original ? &*original : nullptr;
        if (was == nullptr && now == nullptr) continue;  // added, then removed again
        if (was == nullptr) {
            out.push_back(changeOf(JournalChange::ADDED, copy.first, was, now));
        } else if (now == nullptr) {
            out.push_back(changeOf(JournalChange::REMOVED, copy.first, was, now));
        } else if (!sameCopy(*was, *now)) {
            out.push_back(changeOf(JournalChange::CHANGED, copy.first, was, now));
        }
    }
    return out;
}

SaveJournal::SaveJournal(const Properties& set, const String& target, const Forms& forms,
                         bool lockHeld) {
    // Digests are 0 when the caller's journal is off: then the environment
    // need not be asked again.
    if (forms.beforeDigest == forms.afterDigest || !journal_enabled()) return;
    JournalSave save;
    save.kind = set.myFactoryName().text();
    save.target = target;
    save.after = forms.afterDigest;
    int rc = journal_settle(save.kind, target, forms.beforeDigest, lockHeld);
    if (rc != 0) traceFailure("settle", target, rc);
    if (set.tracking_ && set.matchedDigest_ == forms.beforeDigest) {
        save.changes = changesSinceMatched(set);
    } else {
        StreamSet before;
        if (!forms.beforeStream.empty()) {
            MemoryInput in(forms.beforeStream.data(), forms.beforeStream.size());
            // A stored form that does not parse is still replaced by the
            // save; what it held is recorded as far as it could be read.
            before.obtain(in, true);
        }
        save.changes = changes(before, set);
    }
    if (save.changes.empty()) return;
    rc = journal_begin(save, ticket_);
    if (rc != 0) {
        traceFailure("begin", target, rc);
        return;
    }
    pending_ = true;
}

SaveJournal::~SaveJournal() {
    if (pending_) finish(false);
}

void SaveJournal::finish(bool saved) {
    if (!pending_) return;
    pending_ = false;
    int rc = saved ? journal_commit(ticket_) : journal_abandon(ticket_);
    if (rc != 0) traceFailure(saved ? "commit" : "drop", std::to_string(ticket_), rc);
}
