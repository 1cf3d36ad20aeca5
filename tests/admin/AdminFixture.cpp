#include "tests/admin/AdminFixture.h"

#include "admin/Group.h"
#include "host/platform/HostPlatform.h"
#include "properties/FileProperties.h"

AdmAnswer AdminFixture::request(int form, AdmOp op, const std::map<int, String>& fields,
                                const std::vector<int>& unreadable) {
    buffer_.clear();
    for (const auto& [number, text] : fields) buffer_.set_field(number, text);
    for (int number : unreadable) buffer_.set_unreadable(number);
    const Adm_Forms* entry = adm_find(Forms, form);
    if (entry == nullptr) {
        ADD_FAILURE() << "no form " << form;
        return {};
    }
    AdmAnswer answer = adm_request(*entry->form, op, buffer_);
    EXPECT_EQ(buffer_.refused_writes(), 0) << "form " << form << " wrote outside its reply";
    return answer;
}

std::map<int, String> AdminFixture::attributeFields(const String& kind, const String& name,
                                                    const String& flags, const String& forwardable,
                                                    const String& version, const String& type) {
    std::map<int, String> fields{
        {0, kind},         {1, name.substr(0, 70)}, {2, name.size() > 70 ? name.substr(70) : ""},
        {15, forwardable}, {16, version},           {17, type}};
    for (int i = 0; i < 12; ++i) fields[3 + i] = String(1, flags[static_cast<std::size_t>(i)]);
    return fields;
}

void AdminFixture::writeDefaults(const Path& path, const std::vector<KnownSpec>& knowns) {
    HostPlatform::makeParentDirectories(hostPath(path));
    FileProperties defaults(path);
    defaults.empty();
    for (const KnownSpec& k : knowns) {
        Property p;
        p.name = Symbol(k.name);
        p.index = 1;
        p.value.modify("default", 0);
        p.attributes.set_readable(k.read, k.readable);
        p.attributes.set_writeable(k.write, true);
        p.attributes.set_server_known(true);
        p.attributes.set_version(1);
        ASSERT_EQ(defaults.put(p, PropertyAttributes::Server), Properties::PUT_OK);
    }
    ASSERT_TRUE(defaults.saveThem());
    if (knowns.empty()) return;
    static long next = 1000000000;
    setMtime(path, next++);
}

bool AdminFixture::storedProperty(const Path& path, const String& name, Property& p) {
    FileProperties file(path);
    p.name = Symbol(name);
    p.index = 1;
    return file.get(p, PropertyAttributes::Server) != Properties::GET_NO_SUCH_PROPERTY;
}
