#pragma once

// The administration server's framework, as a loaded module sees it: the base of the module's data
// object, the form registry, the base of every form with the framework's default operations, and
// the field buffer a request travels in. The stand-in implements it in libvmplatform.so
// (host/platform/AdmFramework.cpp); the server's side of it (loading a
// module, walking its registry, driving one request, the texts an
// administrator reads for each ecode) is host/platform/AdmServer.h.
//
// Results of a form operation: 0 success, 1023 failure, 1037 confirmation
// asked. Outputs: rval (1 or 2 success, 3 failure, 4 confirmation asked),
// ecode (message number, 0 none), field_no (field at fault, -1 or 0 none).

#include "platform/Adm_Ecode.h"
#include "platform/Adm_Forms.h"
#include "platform/Appl_Adm_Data.h"
#include "platform/Buffer.h"
#include "platform/Com_Buffer.h"
#include "platform/Form.h"
#include "platform/STRING_CODE.h"
