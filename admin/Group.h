#pragma once

#include "platform/AdmFramework.h"
#include "platform/Export.h"

// The base of every form of the module: joins the registry `Forms` under its
// number with the constant 4. Overrides nothing, holds nothing. The module's
// static objects are defined, in load order, in admin/ModuleFrame.cpp.
class Group : public Form {
  public:
    static constexpr int registryConstant = 4;
    explicit Group(int number);
    ~Group() override;
};

// The head of the module's form registry, found by the server under this
// name; null until the first form registers.
CFGADM_EXPORT extern Adm_Forms* Forms;
// The yes/no answers of the feature form (form 3): "y" 'y', "n" 'n', "y" 'Y',
// "n" 'N', then the end row.
CFGADM_EXPORT extern const STRING_CODE<char, char const*> Yes_No[5];
