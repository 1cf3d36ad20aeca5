#pragma once

#include <cstddef>

// The request record of a remote property update: what the owner box needs
// to take a property set over. Three NUL-padded character fields; the caller
// keeps each text shorter than the field so that it ends with a NUL.
struct PropertiesObjectInput {
    static constexpr std::size_t fieldSize = 1024;

    // The set's key: a path for file-backed sets, the record number in the
    // first 4 bytes for B-tree sets; all 1024 bytes travel.
    char key[fieldSize];
    // Path of the temporary file that holds the set in its text stream form.
    char tmp_path[fieldSize];
    // The set's factory name, which tells the owner what kind of set it is.
    char factory_name[fieldSize];
};
static_assert(sizeof(PropertiesObjectInput) == 3072, "request record is 3072 bytes");
static_assert(offsetof(PropertiesObjectInput, key) == 0);
static_assert(offsetof(PropertiesObjectInput, tmp_path) == 1024);
static_assert(offsetof(PropertiesObjectInput, factory_name) == 2048);
