#pragma once

// Marks the classes and functions that libquorrel.so exports; everything else stays hidden.
#define QUORREL_EXPORT __attribute__((visibility("default")))
