#pragma once

#include <cstddef>
#include <iosfwd>

#include "platform/Path.h"
#include "platform/String.h"
#include "properties/PropertyValueRepresentationBase.h"

// A value held in a temporary file of its own under "/vm/tmp" (a unique name
// ending in ".p"), for values above StringRequired bytes. The file exists
// from the first write on and belongs to this representation alone: the
// destructor deletes it (a clone gets a file of its own). Files of
// representations still alive when the process ends stay behind.
//
// A file that cannot be opened reads as empty; length() is 0 when the file
// is missing. Every file access goes through FileSystem / FileStream.
class PropertyValueFile : public PropertyValueRepresentationBase {
  public:
    // Files are copied in chunks of this many bytes.
    static constexpr std::size_t ChunkSize = 8096;

    // Picks the file name; writes nothing.
    PropertyValueFile();
    // Picks the file name, then creates the file holding `bytes`.
    explicit PropertyValueFile(const String& bytes);
    ~PropertyValueFile() override;

    operator String() const override;
    String get(unsigned long position, unsigned long count) const override;
    // Cuts the file to `position` bytes when it is longer, then appends
    // `text`. When the cut fails the failure is reported on std::cerr (not
    // the trace) and the file is left as it was, without `text`.
    void modify(const String& text, unsigned long position) override;
    unsigned long length() const override;
    // Replaces the file's bytes by the next `count` bytes of `in`, copied in
    // chunks so that memory does not depend on `count`. False as soon as a
    // chunk comes back short (the file then holds what arrived), or when the
    // file cannot be written; otherwise whether `in` is still good.
    bool read(std::istream& in, unsigned long count) override;
    bool write(std::ostream& out) const override;

    bool can_handle_size(unsigned long size) const override;
    PropertyValueRepresentationBase* clone() const override;

    // Copies `from` to `to` in chunks until `from` ends (a chunk shorter than
    // ChunkSize ends it). Whether `to` is still good.
    bool copy_stream(std::istream& from, std::ostream& to) const;

    // The platform path of the file.
    const Path& path() const { return path_; }

  private:
    Path path_;
};
