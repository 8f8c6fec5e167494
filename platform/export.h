// Symbol visibility of the shared platform library (the host program and the driver library
// link the same copy, so they share one string allocator and one message queue per thread).
#pragma once

#define TAVO_PLATFORM_API __attribute__((visibility("default")))
