#include "platform/RegexIterator.h"

bool RegexIterator::next(RegexMatch& match) {
    if (done_ || !regex_.search(text_, match, position_)) {
        done_ = true;
        return false;
    }
    std::size_t end = match.end(0);
    // An empty match must not be found again at the same place.
    position_ = end > match.start(0) ? end : end + 1;
    if (position_ > text_.size()) done_ = true;
    return true;
}
