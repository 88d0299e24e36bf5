#pragma once

// Marks the classes and functions that libtavhttp.so exports; everything else stays hidden.
#define TAV_HTTP_EXPORT __attribute__((visibility("default")))
