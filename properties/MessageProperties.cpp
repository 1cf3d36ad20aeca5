#include "properties/MessageProperties.h"

#include <iterator>

namespace {

// Name, value type, writeable by Privileged, writeable by Trusted.
const Properties::knownEntry kTable[] = {
    {&Binary_Filename, 0, true, true},        {&Partial_Delivery, 0, true, true},
    {&Primary_Media, 0, true, true},          {&Text_Type, 0, true, true},
    {&Proxy_Reply_To, 1, true, true},         {&Original_From, 1, false, false},
    {&Deliver_CA_IP, 1, true, true},          {&Voice_Comp_File_Name, 1, false, false},
    {&Fax_Comp_File_Name, 1, false, false},   {&Text_Comp_File_Name, 1, false, false},
    {&Binary_Comp_File_Name, 1, false, false}};

}  // namespace

MessageProperties::MessageProperties(const String&) : FileProperties(factoryName) {}

MessageProperties::MessageProperties() = default;

Properties* MessageProperties::factory(const PropertiesID& key) const {
    auto* set = new MessageProperties();
    set->reinit(Path(key.text()));
    return set;
}

Properties::knownInfo& MessageProperties::getKnown() {
    return kindKnowns(defaults, knownInfo{nullptr, kTable, std::size(kTable), 0}, defaultsPath);
}
