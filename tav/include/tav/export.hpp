#pragma once

// Marks the classes and functions that libtav.so exports; everything else stays hidden.
#define TAV_EXPORT __attribute__((visibility("default")))
