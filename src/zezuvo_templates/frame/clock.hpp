// Wall-clock reads and date-time arithmetic.  The current time is read
// through the module's `datetime` and `time` names, so tests can patch them;
// exact naive `datetime` objects are compared and subtracted in C++.
#pragma once
#include <Python.h>
#include <datetime.h>

#include <bit>
#include <cstdint>
#include <cstring>

#include "ref.hpp"

namespace zz::clock {

bool init();  // imports the datetime C API

// The exact `datetime` type, set by init() (datetime.h's API pointer is per translation unit).
inline PyTypeObject* datetime_type = nullptr;

Ref now();        // local wall-clock date-time without zone
Ref epoch_now();  // seconds since the epoch, a float

// ISO 8601 text: YYYY-MM-DDTHH:MM:SS, with ".ffffff" only when microseconds are not zero.
Ref iso_format(PyObject* dt);

// An exact `datetime` without tzinfo: safe for the C++ fast paths below.
inline bool is_plain(PyObject* obj) {
    return Py_IS_TYPE(obj, datetime_type) && !reinterpret_cast<PyDateTime_DateTime*>(obj)->hastzinfo;
}

// The fields of a plain date-time as stored (year, month, day, hour, minute,
// second, microsecond; big-endian, most significant first), read as two
// words: their order is the host's order of plain date-times (which ignores
// the fold).
struct OrderKey {
    std::uint64_t high;  // year to the top byte of the microseconds
    std::uint32_t low;   // the two lower bytes of the microseconds

    friend bool operator<(OrderKey a, OrderKey b) { return a.high < b.high || (a.high == b.high && a.low < b.low); }
};

inline OrderKey order_key(PyObject* plain) {
    const unsigned char* data = reinterpret_cast<PyDateTime_DateTime*>(plain)->data;
    std::uint64_t high;
    std::memcpy(&high, data, sizeof high);
    if constexpr (std::endian::native == std::endian::little) high = __builtin_bswap64(high);
    return {high, static_cast<std::uint32_t>(data[8]) << 8 | data[9]};
}

// Microseconds since 0001-01-01T00:00:00 of a plain date-time.
std::int64_t micros(PyObject* plain);

// (end - start).total_seconds() as a float object; any pair that supports it.
Ref seconds_between(PyObject* start, PyObject* end);

}  // namespace zz::clock
