#include "tests/testing/TraceCapture.h"

void TraceCapture::message(int level, const String& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.emplace_back(level, text);
}

std::vector<std::pair<int, String>> TraceCapture::messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

bool TraceCapture::contains(int level, const String& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [l, t] : messages_)
        if (l == level && t.find(text) != String::npos) return true;
    return false;
}

void TraceCapture::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
}
