#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// One platform message: an opcode, a destination address record and a body of
// at most MCMsg::maxBody bytes with its length. The buffer exists between
// allocate() and release() (or destruction); before allocate() and after
// release(), to() and body() return nullptr. A message is sent and its reply
// read back through a client derived from it (OrvexMsgClient).
class MCMsg {
  public:
    // The largest body a message can carry, request or reply. The module's
    // largest message (the remote property update) uses 3080 bytes.
    static constexpr std::size_t maxBody = 8192;

    // Destination address record, as to() gives it: word 0 is the address kind
    // (0, the only kind the stand-in knows), word 1 the processor box number,
    // word 2 the resource number, word 3 unused.
    static constexpr std::size_t addressWords = 4;

    MCMsg() = default;
    virtual ~MCMsg();
    MCMsg(const MCMsg&) = delete;
    MCMsg& operator=(const MCMsg&) = delete;

    // Gives the message a fresh buffer: opcode 0, address and body all zero,
    // length 0. An earlier buffer is released first. Returns false (and leaves
    // no buffer) when memory is exhausted.
    virtual bool allocate();
    // Frees the buffer; harmless when there is none.
    void release();
    bool allocated() const { return buffer_ != nullptr; }

    // The opcode the message carries; 0 without a buffer.
    void opcode(int code);
    int opcode() const;
    // The destination address record (addressWords words), owned by the message.
    std::uint32_t* to();
    const std::uint32_t* to() const;
    // The body buffer (maxBody bytes), owned by the message. After a reply has
    // been read, its body fills the first length() bytes; the bytes after it
    // keep what was there before.
    char* body();
    const char* body() const;
    // Sets the number of body bytes to send. A length outside 0..maxBody, or a
    // message without a buffer, is refused: false, length unchanged.
    bool length(int bytes);
    int length() const;

  protected:
    struct Buffer {
        int opcode = 0;
        std::uint32_t address[addressWords] = {};
        int length = 0;
        char body[maxBody] = {};
    };
    Buffer* buffer() { return buffer_.get(); }

  private:
    std::unique_ptr<Buffer> buffer_;
};
