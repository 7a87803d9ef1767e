// Marks the classes and functions that libarxp exports; everything else stays
// hidden (the library builds with -fvisibility=hidden).
#pragma once

#if defined(ARXP_BUILDING)
#define ARXP_EXPORT __attribute__((visibility("default")))
#else
#define ARXP_EXPORT
#endif
