// The module frame's static objects, all in this one unit so that
// the language fixes their order: objects of one unit are built in the order
// of their definitions and destroyed in the reverse order, whatever order the
// linker gives the units. CMakeLists.txt also links this unit after every
// other unit of the module, so the statics of the property, message,
// configuration and utility units are built before it and destroyed after
// it. Nothing here opens a file or reads a property set:
// the selector map fills on the first request.
//
// Load order: the selector map (empty), form 2, form 1, the feature form's
// critical region, form 3, the data object. Unload: the reverse.

#include "admin/Config_Adm_Data.h"
#include "admin/Fid_cugf.h"
#include "admin/Fid_list_properties.h"
#include "admin/Fid_property.h"
#include "admin/Group.h"
#include "admin/PropertyDBmap.h"

// Constant-initialised: null before any constructor of the module runs.
Adm_Forms* Forms = nullptr;

const STRING_CODE<char, char const*> Yes_No[5] = {
    {"y", 'y'}, {"n", 'n'}, {"y", 'Y'}, {"n", 'N'}, {nullptr, 0}};

// The selector map of the property forms, empty.
PropertyDBmap PropertyDBtypes;

namespace {

// Form 2 registers first, then form 1.
Fid_property propertyForm;
Fid_list_properties listForm;

}  // namespace

// Form 3 after its critical region, which it uses until it is destroyed.
_Critical_Region Fid_cugf::gfeature_update;

namespace {

Fid_cugf featureForm(Fid_cugf::number);

}  // namespace

// Last: the data object, handed the registry with every form in it.
Config_Adm_Data SM_pkg_data;
