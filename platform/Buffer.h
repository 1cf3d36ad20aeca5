#pragma once

#include "platform/Adm_Ecode.h"
#include "platform/Com_Buffer.h"
#include "platform/STRING_CODE.h"

// The field buffer of one request, with the framework's typed field readers
// and writers.
class Buffer : public Com_Buffer {
  public:
    // Opens reply fields 0 to fields - 1, all empty (fields is kept within 0
    // and max_fields), and lets the form write field `fields` as well; an
    // earlier reply is dropped.
    void reply(int fields);

    // Reads a whole decimal number (blanks around it allowed) within
    // [minimum, maximum]: 0 and the value, or non-zero after setting rval
    // to 3 and ecode to ADM_UNREADABLE, ADM_NOT_A_NUMBER or ADM_OUT_OF_RANGE.
    int in_long(int field, long minimum, long maximum, long& value, int& rval, int& ecode);
    // The same, a blank field reading as -1 (accepted whatever the bounds).
    int in_blong(int field, long minimum, long maximum, long& value, int& rval, int& ecode);
    // 0 and the code of the first row whose text the field holds (blanks
    // around it allowed), or non-zero after setting rval 3 and ecode
    // ADM_UNREADABLE or ADM_NOT_IN_LIST.
    int in_string(int field, STRING_CODE<char, char const*> const* table, char& code, int& rval,
                  int& ecode);

    int out_long(int field, long value);
    // -1 is written blank.
    int out_blong(int field, long value);
    // The text of the first row with that code; non-zero (nothing written)
    // when no row has it.
    int out_string(int field, STRING_CODE<char, char const*> const* table, char code);
};
