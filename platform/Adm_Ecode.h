#pragma once

// The framework's own ecodes (the forms' ecodes are their own; host/platform/AdmServer.h
// holds the texts of both). Chosen above every ecode a form of the module uses.
enum Adm_Ecode : int {
    ADM_NOT_SUPPORTED = 9000,  // the form does not support the operation
    ADM_UNREADABLE = 9001,     // a request field cannot be read
    ADM_NOT_A_NUMBER = 9002,   // in_long: the field holds no whole number
    ADM_OUT_OF_RANGE = 9003,   // in_long: the number is outside the bounds
    ADM_NOT_IN_LIST = 9004     // in_string: the field holds no text of the table
};
