#pragma once

// Marks what the module's shared library shows to the platform. Everything
// else is built with hidden visibility.
#define CFGADM_EXPORT __attribute__((visibility("default")))
