#pragma once
// What libcarvo shows to the programs that link it. The library is built with every symbol
// hidden unless marked with CARVO_API, so that its internals can change without a host
// noticing; the marked classes and functions are the interface a host builds against.

#if defined(__GNUC__) || defined(__clang__)
#define CARVO_API __attribute__((visibility("default")))
#else
#define CARVO_API
#endif
