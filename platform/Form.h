#pragma once

#include "platform/Adm_Ecode.h"
#include "platform/Adm_Forms.h"
#include "platform/Buffer.h"

// The base of every form. The constructor appends the form to the registry
// under its number; the destructor takes it out (the head becomes null with
// the last one). Every operation has the framework's default, which answers
// that the form does not support it: result 1023, rval 3, ecode
// ADM_NOT_SUPPORTED, field_no -1, no reply fields.
class Form {
  public:
    Form(Adm_Forms*& registry, int kind, int number);
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    virtual int add(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no);
    virtual int addv(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no);
    virtual int chg(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no);
    virtual int get(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no);
    virtual int list(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no);
    virtual int rem(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no);
    virtual int valid(Buffer& buffer, unsigned int, int& rval, int& ecode, int& field_no);
    virtual int list_count(Buffer& buffer, int& count, int& rval, int& ecode, int& field_no);

    int form_number() const { return number_; }

  private:
    Adm_Forms** registry_;
    int number_;
};
