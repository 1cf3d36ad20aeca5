#include "platform/Appl_Adm_Data.h"

#include <string>

#include "host/platform/AdmJournal.h"

Appl_Adm_Data::Appl_Adm_Data(char* application, Adm_Forms*& forms)
    : application_(application), forms_(&forms), formsAtConstruction_(0) {
    for (Adm_Forms* entry = forms; entry != nullptr; entry = entry->next) ++formsAtConstruction_;
    AdmJournal::note("data " + std::string(application ? application : "") + " built with " +
                     std::to_string(formsAtConstruction_) + " forms");
}

Appl_Adm_Data::~Appl_Adm_Data() {
    AdmJournal::note("data " + std::string(application_ ? application_ : "") + " destroyed");
}

int Appl_Adm_Data::options(short*) {
    return 0;
}

int Appl_Adm_Data::shutdown() {
    return 0;
}

int Appl_Adm_Data::sigterm() {
    return 0;
}
