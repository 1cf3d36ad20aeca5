#pragma once

#include <string_view>

// The console's page (host/vmadmd/page), built into the program so that it
// needs no files and no network at run time.
struct EmbeddedFile {
    const char* name;  // file name, e.g. "index.html"; null ends the table
    std::string_view bytes;
};

// Every page file, in no particular order, ended by an entry with a null name.
extern const EmbeddedFile kEmbeddedPage[];

// The page file of that name, or null.
const EmbeddedFile* findEmbedded(std::string_view name);

// The Content-Type for a page file, by its extension.
const char* embeddedContentType(std::string_view name);
