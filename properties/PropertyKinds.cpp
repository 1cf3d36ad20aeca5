// The statics of the stored kinds of property set, in the one order they must
// be built in: each kind's paths and factory name before its prototype, whose
// constructor registers it under that name. Keeping them in one unit makes
// the order the source's, not the linker's.

#include "properties/COSProperties.h"
#include "properties/FileProperties.h"
#include "properties/MessageProperties.h"
#include "properties/SubscriberProperties.h"
#include "properties/SystemProperties.h"

const Symbol FileProperties::factoryName("FileProperties");
static const FileProperties fileProto(FileProperties::factoryName);

const Path COSProperties::indexPath("/VM/orvex/sd/sdata/COSproperties");
const Path COSProperties::defaultsPath("/VM/config/COSPropertyDefaults");
const Symbol COSProperties::factoryName("COSProperties");
Properties::knownInfo* COSProperties::defaults = nullptr;
std::int32_t COSProperties::btreeFD = -1;
static const COSProperties cosProto("COSProperties");

const Path SubscriberProperties::indexPath("/VM/orvex/sd/sdata/SubscriberProperties");
const Path SubscriberProperties::defaultsPath("/VM/config/SubscriberPropertyDefaults");
const Symbol SubscriberProperties::factoryName("SubscriberProperties");
Properties::knownInfo* SubscriberProperties::defaults = nullptr;
std::int32_t SubscriberProperties::btreeFD = -1;
static const SubscriberProperties subscriberProto("SubscriberProperties");

const Path SystemProperties::filePath("/VM/config/sys_prop_db");
const Path SystemProperties::defaultsPath("/VM/config/sys_prop_db.defaults");
const Symbol SystemProperties::factoryName("SystemProperties");
Properties::knownInfo* SystemProperties::defaults = nullptr;
static const SystemProperties systemProto("SystemProperties");
const Symbol SysLang("QRT SYSTEM supported languages");

const Symbol Binary_Filename("ORVEX Binary Filename");
const Symbol Partial_Delivery("ORVEX Partial Delivery");
const Symbol Primary_Media("ORVEX Primary Media");
const Symbol Text_Type("ORVEX Text Type");
const Symbol Proxy_Reply_To("ORVEX Proxy Reply To");
const Symbol Original_From("ORVEX Original From");
const Symbol Deliver_CA_IP("ORVEX Deliver CA IP");
const Symbol Voice_Comp_File_Name("ORVEX Voice Component Path Name");
const Symbol Fax_Comp_File_Name("ORVEX Fax Component Path Name");
const Symbol Text_Comp_File_Name("ORVEX Text Component Path Name");
const Symbol Binary_Comp_File_Name("ORVEX Binary Component Path Name");
const Path MessageProperties::defaultsPath("/VM/config/PropertyDefaults");
const Symbol MessageProperties::factoryName("MessageProperties");
Properties::knownInfo* MessageProperties::defaults = nullptr;
static const MessageProperties messageProto("MessageProperties");
