#pragma once

// The number of characters an unsigned number takes written in decimal: what
// the text forms' length predictions count without formatting anything.
inline unsigned long decimalDigits(unsigned long n) {
    unsigned long digits = 1;
    for (; n >= 10; n /= 10) ++digits;
    return digits;
}
