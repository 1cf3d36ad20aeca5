#include "admin/Config_Adm_Data.h"

#include "admin/Group.h"
#include "platform/Trace.h"

Config_Adm_Data::Config_Adm_Data() : Appl_Adm_Data(const_cast<char*>("Configuration"), Forms) {
    if (MC_current_trace_level() > 2) MC_std_trace() << "Config_Adm_Data()" << verbose;
}

Config_Adm_Data::~Config_Adm_Data() = default;
