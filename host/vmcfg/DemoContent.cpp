#include "host/vmcfg/DemoContent.h"

#include <memory>
#include <ostream>

#include "host/common/PropsTarget.h"
#include "host/vmcfg/DemoDirectory.h"
#include "platform/FileStream.h"
#include "platform/FileSystem.h"
#include "properties/COSProperties.h"
#include "properties/FileProperties.h"
#include "properties/MessageProperties.h"
#include "properties/SubscriberProperties.h"
#include "properties/SystemProperties.h"

namespace {

using A = PropertyAttributes;

// A known property: its default value, the least privileged class that may
// read it and the least privileged that may change it.
struct Known {
    const char* name;
    const char* value;
    A::AccessType read;
    A::AccessType write;
};

struct Sample {
    const char* name;
    const char* value;
};

const Known kSystemKnown[] = {
    {"QRT SYSTEM supported languages", "english", A::Minimal, A::Privileged},
    {"System Max Message Length", "300", A::Minimal, A::Privileged},
    {"System Greeting Length", "60", A::Minimal, A::Trusted},
    {"System Operator Extension", "0", A::Minimal, A::Trusted},
    {"ORVEX DISABLE MESSAGE DELIVERY", "", A::Minimal, A::Privileged}};
const Known kMessageKnown[] = {{"ORVEX Priority", "normal", A::Restricted, A::Standard},
                               {"ORVEX Sensitivity", "normal", A::Restricted, A::Standard},
                               {"ORVEX Expiry Days", "14", A::Restricted, A::Trusted}};
const Known kCosKnown[] = {{"COS Max Message Length", "180", A::Minimal, A::Privileged},
                           {"COS Greeting Length", "30", A::Minimal, A::Privileged},
                           {"COS Mailbox Capacity", "50", A::Minimal, A::Privileged},
                           {"COS Language List", "english", A::Minimal, A::Trusted}};
const Known kSubscriberKnown[] = {{"Subscriber Language", "english", A::Restricted, A::Standard},
                                  {"Subscriber Greeting Length", "30", A::Restricted, A::Standard},
                                  {"Subscriber Notification", "lamp", A::Restricted, A::Standard}};

// The feature form sets message delivery's property to the character 1 or 0;
// empty: never switched.
const Sample kSystemSet[] = {{"QRT SYSTEM supported languages", "english spanish french"},
                             {"System Max Message Length", "300"},
                             {"ORVEX DISABLE MESSAGE DELIVERY", ""}};
const Sample kMessageSet[] = {{"ORVEX Primary Media", "voice"},
                              {"ORVEX Priority", "urgent"},
                              {"ORVEX Original From", "1002"}};
const Sample kCos1[] = {{"COS Max Message Length", "180"},
                        {"COS Greeting Length", "30"},
                        {"COS Language List", "english"}};
const Sample kCos2[] = {{"COS Max Message Length", "600"},
                        {"COS Greeting Length", "120"},
                        {"COS Language List", "english spanish"}};
const Sample kSubscriber1001[] = {{"Subscriber Language", "spanish"},
                                  {"Subscriber Greeting Length", "60"}};

constexpr std::uint16_t kRecordOwner = COSProperties::ownerBox;

Path directoryOf(const Path& path) {
    return Path(path.text().substr(0, path.text().rfind('/')));
}

bool saved(Properties& set, const String& what, std::ostream& err) {
    if (set.save()) return true;
    err << "vmcfg: can't write " << what << ": " << Properties::error_name(set.getError())
        << std::endl;
    return false;
}

template <std::size_t N>
bool writeDefaults(const Path& path, const Known (&table)[N], std::vector<String>& created,
                   std::ostream& err) {
    if (FileSystem::exists(path)) return true;
    FileProperties defaults(path);
    for (const Known& known : table) {
        Property p;
        p.name = Symbol(known.name);
        p.value.modify(known.value, 0);
        p.attributes.set_readable(known.read, true);
        p.attributes.set_writeable(known.write, true);
        p.attributes.set_server_known(true);
        p.attributes.set_version(1);
        defaults.put(p, A::Server);
    }
    if (!saved(defaults, path.text(), err)) return false;
    created.push_back(path.text() + " (" + std::to_string(N) + " known properties)");
    return true;
}

// Fills an empty set with samples, each with the attributes its kind knows.
template <std::size_t N>
bool fill(Properties& set, const String& what, const Sample (&samples)[N],
          std::vector<String>& created, std::ostream& err) {
    for (const Sample& sample : samples) {
        Property p;
        p.name = Symbol(sample.name);
        p.value.modify(sample.value, 0);
        if (auto known = PropsTarget::knownAttributes(set, p.name)) p.attributes = *known;
        set.put(p, A::Server);
    }
    if (!saved(set, what, err)) return false;
    created.push_back(what + " (" + std::to_string(N) + " properties)");
    return true;
}

template <class Kind, std::size_t N>
bool writeRecord(long number, const String& what, const Sample (&samples)[N],
                 std::vector<String>& created, std::ostream& err) {
    Kind set;
    if (!set.reinitialize(number, false)) {
        err << "vmcfg: can't read " << what << " from " << Kind::indexPath << std::endl;
        return false;
    }
    BTreeProperties::BTreeDataPrefix prefix;
    if (set.getBTreeDataPrefix(set.key(), prefix) != BTREE_NO_RECORD) return true;
    return fill(set, what, samples, created, err);
}

}  // namespace

const Path DemoContent::messageFile("/VM/orvex/sd/msg/1001/0001.prop");

bool DemoContent::write(std::vector<String>& created, std::ostream& err) {
    if (!writeDefaults(SystemProperties::defaultsPath, kSystemKnown, created, err) ||
        !writeDefaults(MessageProperties::defaultsPath, kMessageKnown, created, err) ||
        !writeDefaults(COSProperties::defaultsPath, kCosKnown, created, err) ||
        !writeDefaults(SubscriberProperties::defaultsPath, kSubscriberKnown, created, err))
        return false;
    if (!FileSystem::exists(SystemProperties::filePath)) {
        SystemProperties system;
        if (!fill(system, SystemProperties::filePath.text(), kSystemSet, created, err))
            return false;
    }
    if (!FileSystem::exists(messageFile)) {
        FileSystem::makeDirectories(directoryOf(messageFile));
        std::unique_ptr<Properties> message(Properties::factory(
            MessageProperties::factoryName, Properties::PropertiesID(messageFile.text())));
        if (!fill(*message, messageFile.text(), kMessageSet, created, err)) return false;
    }
    // Act as the owner from before the indexes are opened: a non-owner
    // opens them read-only.
    std::uint16_t box = Properties::myPBox;
    Properties::myPBox = kRecordOwner;
    bool written =
        writeRecord<COSProperties>(1, "class of service 1", kCos1, created, err) &&
        writeRecord<COSProperties>(2, "class of service 2", kCos2, created, err) &&
        writeRecord<SubscriberProperties>(1001, "subscriber 1001", kSubscriber1001, created, err);
    Properties::myPBox = box;
    return written && writeParameters(created, err) && DemoDirectory::write(created, err);
}

// A parameter file: a site type from the environment over the defaults.
// "Number of CDR Files" at 0 keeps the CDR feature on the feature form.
bool DemoContent::writeParameters(std::vector<String>& created, std::ostream& err) {
    const Path path("/VM/config/config_params");
    if (FileSystem::exists(path)) return true;
    FileStream out(path, std::ios::out);
    out << "# Site parameters of the demo platform\n"
           "precedence site ${VM_SITE}\n"
           "precedence global default\n"
           "site east : (Max Ports)=48\n"
           "global default : (Number of CDR Files)=0 (Max Ports)=24 (Greeting Text)=(Welcome)\n";
    if (!out.close()) {
        err << "vmcfg: can't write " << path << std::endl;
        return false;
    }
    created.push_back(path.text() + " (2 precedence types)");
    return true;
}
