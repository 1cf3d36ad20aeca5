#pragma once

#include "platform/Adm_Forms.h"

// The base of a module's one administration data object. It keeps the
// application name and the module's registry head (by reference: forms that
// register later are seen).
class Appl_Adm_Data {
  public:
    Appl_Adm_Data(char* application, Adm_Forms*& forms);
    virtual ~Appl_Adm_Data();
    Appl_Adm_Data(const Appl_Adm_Data&) = delete;
    Appl_Adm_Data& operator=(const Appl_Adm_Data&) = delete;

    // The framework's: options answers 0 and leaves *option as it is;
    // shutdown and sigterm do nothing and answer 0.
    virtual int options(short* option);
    virtual int shutdown();
    virtual int sigterm();

    const char* application() const { return application_; }
    Adm_Forms* forms() const { return *forms_; }
    // How many forms the registry held when this object was built.
    int forms_at_construction() const { return formsAtConstruction_; }

  private:
    const char* application_;
    Adm_Forms** forms_;
    int formsAtConstruction_;
};
