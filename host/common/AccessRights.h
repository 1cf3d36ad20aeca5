#pragma once

#include "platform/String.h"
#include "properties/PropertyAttributes.h"

// The access classes as administrators name them on a command line: one
// vocabulary for every tool.

// The access class named (any case: Server ... Minimal); false for no class.
bool parseAccessClass(const String& text, PropertyAttributes::AccessType& access);

// The class's name as the tools print it ("Server" ... "Minimal").
const char* accessClassName(PropertyAttributes::AccessType access);

// The classes of the privilege chain, most to least privileged (Server,
// Privileged, Trusted, Standard, Restricted, Minimal), by position 0 to 5.
PropertyAttributes::AccessType chainClass(int position);

// A right as the --read and --write options give it: a class, a comma list of
// classes, "all" or "none", in any case. flags[i] is set for each class of
// chain position i that the text names (a class's right also serves every
// class before it in the chain, as the attributes grant it). False with the
// unknown word in bad.
bool parseRights(const String& text, bool (&flags)[6], String& bad);
