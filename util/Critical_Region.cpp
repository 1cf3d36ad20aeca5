#include "util/Critical_Region.h"

#include <new>

Critical_Region::Pool Critical_Region::pool(sizeof(Critical_Region));

Critical_Region::Critical_Region(_Critical_Region& region) : region_(&region), held_(0) {
    // Woken while another thread took the region again: wait once more.
    while (region_->busy) wait_event(*region_);
    region_->busy = true;
    held_ = 1;
}

Critical_Region::~Critical_Region() {
    release();
}

void Critical_Region::release() {
    if (held_ != 1) return;
    region_->busy = false;
    wake_event(*region_);
    held_ = 0;
}

void* Critical_Region::operator new(std::size_t) {
    return pool.take();
}

void Critical_Region::operator delete(void* block) noexcept {
    pool.give(block);
}

Critical_Region::Pool::~Pool() {
    for (void* block : all_) ::operator delete(block);
}

void* Critical_Region::Pool::take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!free_.empty()) {
        void* block = free_.back();
        free_.pop_back();
        return block;
    }
    void* block = ::operator new(blockSize_);
    // Room for its return is made now, so give() never allocates.
    all_.push_back(block);
    free_.reserve(all_.size());
    return block;
}

void Critical_Region::Pool::give(void* block) noexcept {
    if (block == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(block);
}
