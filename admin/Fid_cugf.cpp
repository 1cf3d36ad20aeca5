#include "admin/Fid_cugf.h"

#include <cerrno>
#include <cstring>

#include "platform/BlockingCall.h"
#include "platform/ChangeJournal.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/Trace.h"
#include "properties/SystemProperties.h"
#include "util/MarkerFile.h"

// gfeature_update is defined with the module frame's objects, so that it is
// built before the form that uses it and destroyed after it.

const Fid_cugf::GreenFeatureInfo Fid_cugf::features[rows] = {
    {0, "Call Answer Disclaimer?", "CAD", "/VM/config/cadisc", nullptr, true, nullptr},
    {1, "Call Detail Recording?", "CDR", "/VM/config/cdr", "Number of CDR Files", true, nullptr},
    {2, "Tandem Mailbox?", "Tandem Mailbox", "/VM/config/tan_mbx", nullptr, true, nullptr},
    {3, "Subscribers Can Change Covering Ext?", "set covering extension", "/VM/config/covext",
     nullptr, true, nullptr},
    {4, "Delivery Difficulty Early Warning Message?", "early warning message",
     "/VM/config/earlywarn", nullptr, true, nullptr},
    {5, "Disable Message Delivery?", "disable message delivery", "/VM/config/dismsgdel", nullptr,
     true, "ORVEX DISABLE MESSAGE DELIVERY"},
    {6, "Forward Private Messages?", "forward private messages", "/VM/config/fwd_pvtmsg", nullptr,
     true, nullptr},
};

char Fid_cugf::curr_setting[rows] = {'n', 'n', 'n', 'n', 'n', 'n', 'n'};
ConfigurationInfo* Fid_cugf::config_ = nullptr;

namespace {

constexpr int kIncompatible = 22;
constexpr int kSystemPropFailed = 1190;

}  // namespace

Fid_cugf::Fid_cugf(int formNumber) : Group(formNumber) {
    std::memset(curr_setting, 'n', sizeof curr_setting);
}

Fid_cugf::~Fid_cugf() = default;

void Fid_cugf::set_feat_bit(int feature, unsigned long* mask) {
    *mask |= 1UL << (static_cast<unsigned>(feature) % 32);
}

int Fid_cugf::chk_compatibility(int feature) {
    if (mask_ & (1UL << feature)) return 0;
    const unsigned long partners = (1UL << 0) | (1UL << 2);
    if ((feature == 0 || feature == 2) && (mask_ & partners)) return kIncompatible;
    return 0;
}

bool Fid_cugf::takenOffForm(const GreenFeatureInfo& row) {
    if (row.configParam == nullptr) return false;
    short value = 0;
    String source;
    bool found = configGet<short>(*config_, Symbol(row.configParam), value, source);
    bool off = found && row.offWhen == (value != 0);
    MC_std_trace() << "greenFeatureNotGreen(...," << row.configParam << ","
                   << (row.offWhen ? "true," : "false,") << value
                   << (off ? ") returned true - " : ") returned false - ") << source << verbose;
    return off;
}

int Fid_cugf::get(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no) {
    buffer.reply(replyFields);
    if (config_ == nullptr)
        config_ = new ConfigurationInfo(ConfigurationInfo::defaultConfigFile, 0);
    mask_ = 0;
    MC_std_trace() << "Orvex Features - OP_GET" << trace;
    int field = 1;
    for (int row = 0; row < rows; ++row) {
        const GreenFeatureInfo& info = features[row];
        if (takenOffForm(info)) {
            curr_setting[info.feature] = 'y';
            continue;
        }
        char setting = 'n';
        if (FileSystem::access(info.markerFile, F_OK) == 0) {
            setting = 'y';
            set_feat_bit(info.feature, &mask_);
        }
        buffer.out_long(field, row);
        buffer.out_field(field + 1, info.question);
        buffer.out_string(field + 2, Yes_No, setting);
        field += 3;
        curr_setting[info.feature] = setting;
    }
    if (field <= 20) buffer.out_blong(field, -1);
    rval = 2;
    ecode = 0;
    field_no = 0;
    return 0;
}

// The field counter is field_no itself: a failure names the field the
// counter stands at, and a request that changes nothing leaves it there.
int Fid_cugf::readChange(Buffer& buffer, long& row, char& setting, int& rval, int& ecode,
                         int& field_no) {
    row = -1;
    int changes = 0;
    field_no = 1;
    while (field_no <= 21) {
        long given = -1;
        int result = buffer.in_blong(field_no, 0, rows - 1, given, rval, ecode);
        ++field_no;
        if (result != 0) return result;
        if (given == -1) break;
        ++field_no;
        char wanted = 0;
        if (buffer.in_string(field_no, Yes_No, wanted, rval, ecode) != 0) {
            rval = 3;
            ecode = 9;
            return 1023;
        }
        if (wanted != curr_setting[features[given].feature]) {
            row = given;
            setting = wanted;
            if (++changes > 1) {
                MC_std_trace() << "Orvex Features - More than one custom Activated" << trace;
                rval = 3;
                ecode = 5;
                field_no = -1;
                return 1023;
            }
        }
        ++field_no;
    }
    for (int field = field_no + 2; field <= 39; field += 3) {
        char* text = nullptr;
        if (buffer.in_field(field, text) == 0 && text != nullptr && text[0] != '\0') {
            rval = 3;
            ecode = 10;
            field_no = field;
            return 1023;
        }
    }
    return 0;
}

int Fid_cugf::chg(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no) {
    MC_std_trace() << "Orvex Features - OP_CHG" << trace;
    buffer.reply(replyFields);
    long row = -1;
    char setting = 0;
    if (int result = readChange(buffer, row, setting, rval, ecode, field_no); result != 0)
        return result;
    if (row == -1) return 0;

    Critical_Region guard(gfeature_update);
    field_no = 0;
    char* confirm = nullptr;
    if (buffer.in_field(0, confirm) != 0 || confirm == nullptr ||
        std::strcmp(confirm, "confirm") != 0) {
        MC_std_trace() << "rem sending GF_CONFIRM" << trace;
        buffer.out_field(0, "confirm");
        rval = 4;
        ecode = setting == 'y' ? 7 : 6;
        return 1037;
    }
    return confirmedChange(row, setting, rval, ecode, field_no);
}

namespace {

const char* stateOf(const char* markerFile) {
    return FileSystem::access(markerFile, F_OK) == 0 ? "on" : "off";
}

// Records a switch of a feature in the change journal: its state before and
// after (as its marker file tells, so a refused switch shows no change) and
// the outcome in words, so that the history never shows a failed switch as
// done.
void journalSwitch(const char* shortName, const char* before, const char* markerFile, int result,
                   int rval, int ecode) {
    if (!journal_enabled()) return;
    JournalSave save;
    save.kind = "feature";
    save.target = shortName;
    JournalChange state;
    state.name = "state";
    state.oldValue = before;
    state.newValue = stateOf(markerFile);
    JournalChange outcome;
    outcome.op = JournalChange::ADDED;
    outcome.name = "outcome";
    outcome.newValue = result == 0 ? String("done")
                                   : "failed: result " + std::to_string(result) + ", rval " +
                                         std::to_string(rval) + ", ecode " + std::to_string(ecode);
    save.changes = {state, outcome};
    if (int rc = journal_record(save); rc != 0)
        MC_std_trace() << "fid_cugf: can't journal the switch of " << shortName << ": "
                       << std::strerror(rc) << oops;
}

}  // namespace

int Fid_cugf::confirmedChange(long row, char setting, int& rval, int& ecode, int& field_no) {
    const GreenFeatureInfo& info = features[row];
    const char* before = stateOf(info.markerFile);
    int result = chg_feat_setting(info.feature, setting, info.markerFile, info.shortName, rval,
                                  ecode, field_no);
    MC_std_trace() << "fid_cugf: after chg_feat_setting() - rval=" << rval << ", ecode=" << ecode
                   << ", field_no=" << field_no << verbose;
    if (info.systemProp != nullptr && (setting == 'n' || result == 0)) {
        int propResult = chg_system_prop(info.systemProp, setting == 'y');
        MC_std_trace() << "fid_cugf: calling chg_sytem_prop(" << info.systemProp << "," << setting
                       << ") returns " << propResult << verbose;
        if (result == 0) result = propResult;
    }
    journalSwitch(info.shortName, before, info.markerFile, result, rval, ecode);
    return result;
}

int Fid_cugf::chg_feat_setting(int feature, char setting, char const* markerFile,
                               char const* shortName, int& rval, int& ecode, int& field_no) {
    if (setting != 'y') {
        FileSystem::unlink(markerFile);
    } else if (chk_compatibility(feature) != 0) {
        MC_std_trace() << "Orvex Features - Incompatible Features Activated" << trace;
        rval = 3;
        ecode = 8;
        field_no = -1;
        return 1023;
    } else {
        String text = String("Marker file for ") + shortName + " custom ";
        if (int written = lv_mkr(markerFile, text.c_str()); written != 0) {
            MC_std_trace() << "ORVEX Features - unable to create " << markerFile << " marker file"
                           << trace;
            rval = 3;
            ecode = 1;
            field_no = 0;
            return written;
        }
    }
    int status = blockingCall("fid_cugf: run mkgf_act", "fid_cugf: run mkgf_act",
                              [] { return Process::system("mkgf_act"); });
    int error = errno;
    field_no = 0;
    if (status != 0) {
        rval = 3;
        ecode = 1;
        MC_std_trace() << "system(\"mkgf_act\") returns " << status << ",errno=" << error << trace;
        return error;
    }
    rval = 2;
    ecode = 0;
    return 0;
}

namespace {

int traced(const char* text, int result) {
    MC_std_trace() << text << trace;
    return result;
}

}  // namespace

int Fid_cugf::chg_system_prop(char const* name, bool on) {
    SystemProperties set;
    set.reinit(SystemProperties::filePath);
    Property p;
    p.name = Symbol(name);
    p.index = 1;
    switch (int result = set.get(p, PropertyAttributes::Standard)) {
        case Properties::GET_OK:
            break;
        case Properties::GET_NO_SUCH_PROPERTY:
            return traced("properties.get: GET_NO_SUCH_PROPERTY", kSystemPropFailed);
        case Properties::GET_NO_PERMISSION:
            return traced("properties.get: GET_NO_PERMISSION", kSystemPropFailed);
        default:
            MC_std_trace() << "properties.get returned " << result << trace;
            return kSystemPropFailed;
    }
    p.value.modify(String(1, on ? '\1' : '\0'), 0);
    switch (int result = set.put(p, PropertyAttributes::Server)) {
        case Properties::PUT_OK:
            break;
        case Properties::PUT_NO_PERMISSION:
            return traced("properties.put: PUT_NO_PERMISSION", kSystemPropFailed);
        case Properties::PUT_NO_ATTRIBUTE_PERMISSION:
            return traced("properties.put: PUT_NO_ATTRIBUTE_PERMISSION", kSystemPropFailed);
        case Properties::PUT_IS_SERVER_KNOWN:
            return traced("properties.put: PUT_IS_SERVER_KNOWN", kSystemPropFailed);
        default:
            MC_std_trace() << "properties.put returned " << result << trace;
            return kSystemPropFailed;
    }
    if (!set.save()) return traced("properties.write_to_file() failed!", kSystemPropFailed);
    return 0;
}
