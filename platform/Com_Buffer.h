#pragma once

#include <string>
#include <vector>

// The request and reply fields of one request. Request fields 0 to
// max_fields - 1 exist and are empty unless the server set them; the server
// may mark one unreadable (a field the transport could not decode). Reply
// fields exist only once Buffer::reply(n) opened them: fields 0 to n - 1, and
// field n too once a form writes it (a form may write up to the number it
// gave). A field number outside the request or the reply is refused without
// touching any memory.
class Com_Buffer {
  public:
    static constexpr int max_fields = 128;

    Com_Buffer();
    virtual ~Com_Buffer();
    Com_Buffer(const Com_Buffer&) = delete;
    Com_Buffer& operator=(const Com_Buffer&) = delete;

    // Module side. 0 and the request field's text (empty for an empty
    // field; valid until the request changes); non-zero when the field
    // cannot be read.
    int in_field(int field, char*& text);
    // Sets a reply field; 0, or non-zero (nothing written) when the field is
    // not in the reply or the text is null.
    int out_field(int field, char const* text);

    // Server side. Sets a request field's text (bytes up to the first NUL);
    // false for a field number outside the request.
    bool set_field(int field, const std::string& text);
    void set_unreadable(int field);
    // Empties every request field and closes the reply.
    void clear();
    // The number of reply fields (opened or written), and one of them ("" outside).
    int reply_size() const { return static_cast<int>(reply_.size()); }
    const std::string& reply_field(int field) const;
    const std::vector<std::string>& reply_fields() const { return reply_; }
    // How many writes outside the reply were refused since the last clear().
    int refused_writes() const { return refused_; }

  protected:
    std::vector<std::string> request_;
    std::vector<bool> readable_;
    std::vector<std::string> reply_;
    int replyLast_ = -1;  // the highest reply field a form may write
    int refused_ = 0;
};
