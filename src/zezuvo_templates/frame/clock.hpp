// Wall-clock reads and date-time arithmetic.  The current time is read
// through the module's `datetime` and `time` names, so tests can patch them;
// exact naive `datetime` objects are compared and subtracted in C++.
#pragma once
#include <Python.h>

#include <cstdint>

#include "ref.hpp"

namespace zz::clock {

bool init();  // imports the datetime C API

Ref now();        // local wall-clock date-time without zone
Ref epoch_now();  // seconds since the epoch, a float

// ISO 8601 text: YYYY-MM-DDTHH:MM:SS, with ".ffffff" only when microseconds are not zero.
Ref iso_format(PyObject* dt);

// An exact `datetime` without tzinfo: safe for the C++ fast paths below.
bool is_plain(PyObject* obj);
// Microseconds since 0001-01-01T00:00:00 of a plain date-time.
std::int64_t micros(PyObject* plain);

// (end - start).total_seconds() as a float object; any pair that supports it.
Ref seconds_between(PyObject* start, PyObject* end);

}  // namespace zz::clock
