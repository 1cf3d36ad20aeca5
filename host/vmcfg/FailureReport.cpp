#include "host/vmcfg/FailureReport.h"

#include <ostream>
#include <streambuf>

#include "host/common/JsonText.h"

// Passes characters on to another stream's buffer, counting them and keeping
// the first line.
class FailureReport::Watch : public std::streambuf {
  public:
    explicit Watch(std::streambuf* target) : target_(target) {}
    std::size_t count() const { return count_; }
    const String& firstLine() const { return firstLine_; }

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        note(traits_type::to_char_type(c));
        return target_->sputc(traits_type::to_char_type(c));
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        for (std::streamsize i = 0; i < n; ++i) note(s[i]);
        return target_->sputn(s, n);
    }
    int sync() override { return target_->pubsync(); }

  private:
    void note(char c) {
        if (count_++ == firstLine_.size() && c != '\n') firstLine_ += c;
    }

    std::streambuf* target_;
    std::size_t count_ = 0;
    String firstLine_;
};

FailureReport::FailureReport(bool json, std::ostream& out, std::ostream& err)
    : json_(json),
      realOut_(out),
      outWatch_(std::make_unique<Watch>(out.rdbuf())),
      errWatch_(std::make_unique<Watch>(err.rdbuf())),
      out_(std::make_unique<std::ostream>(outWatch_.get())),
      err_(std::make_unique<std::ostream>(errWatch_.get())) {}

FailureReport::~FailureReport() = default;

std::ostream& FailureReport::out() {
    return *out_;
}

std::ostream& FailureReport::err() {
    return *err_;
}

int FailureReport::finish(int status) {
    out_->flush();
    err_->flush();
    if (json_ && status != 0 && outWatch_->count() == 0)
        realOut_ << object(errWatch_->firstLine(), status) << std::flush;
    return status;
}

String FailureReport::object(const String& error, int status) {
    String text = error.rfind("vmcfg: ", 0) == 0 ? error.substr(7) : error;
    if (text.empty()) text = "failed";
    nlohmann::json reply = {{"exit", status}};
    putBytes(reply, "error", text);
    return jsonText(reply);
}
