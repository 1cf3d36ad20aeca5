#pragma once

class Form;

// One entry of a module's form registry. The module holds only the head
// pointer (null until the first form registers); entries are kept in the
// order the forms registered.
struct Adm_Forms {
    Form* form;
    int kind;    // the constant the form registered with (4 for every form of the module)
    int number;  // the form number
    Adm_Forms* next;
};
