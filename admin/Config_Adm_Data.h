#pragma once

#include "platform/AdmFramework.h"
#include "platform/Export.h"

// The module's one administration data object: the application
// "Configuration" with the module's registry `Forms`. Keeps the framework's
// options, shutdown and sigterm. Built last at load, when every form is
// registered (admin/ModuleFrame.cpp).
class Config_Adm_Data : public Appl_Adm_Data {
  public:
    Config_Adm_Data();
    ~Config_Adm_Data() override;
};

// The exported data object, found by the server under this name.
CFGADM_EXPORT extern Config_Adm_Data SM_pkg_data;
