#pragma once

#include <compare>
#include <ostream>

#include "platform/String.h"

// A file path held as text, as the platform names it ("/VM/config/..."). The
// empty path means that no file is given. Where the file really lives is the
// platform's business (FileSystem places platform paths under its root).
class Path {
  public:
    Path() = default;
    Path(String text) : text_(std::move(text)) {}
    Path(const char* text) : text_(text) {}

    const String& text() const { return text_; }
    const char* c_str() const { return text_.c_str(); }
    bool empty() const { return text_.empty(); }

    // The path of a name inside this directory.
    Path operator/(const String& name) const;

    friend bool operator==(const Path&, const Path&) = default;
    friend auto operator<=>(const Path& a, const Path& b) { return a.text_ <=> b.text_; }

  private:
    String text_;
};

std::ostream& operator<<(std::ostream& out, const Path& path);

// The shared empty path.
extern const Path EmptyPath;
