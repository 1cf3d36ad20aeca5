#include "host/vmadmd/EmbeddedPage.h"

const EmbeddedFile* findEmbedded(std::string_view name) {
    for (const EmbeddedFile* file = kEmbeddedPage; file->name != nullptr; ++file)
        if (name == file->name) return file;
    return nullptr;
}

const char* embeddedContentType(std::string_view name) {
    if (name.ends_with(".html")) return "text/html; charset=utf-8";
    if (name.ends_with(".js")) return "text/javascript; charset=utf-8";
    if (name.ends_with(".css")) return "text/css; charset=utf-8";
    if (name.ends_with(".png")) return "image/png";
    if (name.ends_with(".svg")) return "image/svg+xml";
    return "application/octet-stream";
}
