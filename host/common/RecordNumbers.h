#pragma once

#include "properties/COSProperties.h"
#include "properties/SubscriberProperties.h"

// The record numbers that name a class of service or a subscriber: 0 up to,
// not including, the number each kind keeps for "no record". The tools'
// options and the owner daemon's check of remote updates both take them from
// here, so a set one of them accepts is a set the other accepts.
struct RecordNumbers {
    static constexpr unsigned long maxCos = COSProperties::unbound - 1UL;
    static constexpr long maxSubscriber = SubscriberProperties::unbound - 1L;
};
