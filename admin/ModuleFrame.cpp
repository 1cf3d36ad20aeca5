// The module frame's static objects, all in this one unit so that
// the language fixes their order: objects of one unit are built in the order
// of their definitions and destroyed in the reverse order, whatever order the
// linker gives the units. CMakeLists.txt also links this unit after every
// other unit of the module, so the statics of the property, message,
// configuration and utility units are built before it and destroyed after
// it. Nothing here opens a file or reads a property set:
// the selector map fills on the first request.
//
// Load order: the selector map (empty), form 2, form 1, [form 3], the data
// object. Unload: the reverse.

#include "admin/Config_Adm_Data.h"
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

// Form 3 (the feature form) joins here, before the data object: first its unit's
// feature table and critical region, then
//     Fid_cugf featureForm(3);
// so that the registry order becomes 2, 1, 3.

}  // namespace

// Last: the data object, handed the registry with every form in it.
Config_Adm_Data SM_pkg_data;
