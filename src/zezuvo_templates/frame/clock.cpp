#include "frame/clock.hpp"

#include <cstdio>
#include <ctime>

#include "frame/globals.hpp"
#include "frame/python.hpp"

namespace zz::clock {
namespace {

// Days from 0001-01-01 to the given proleptic Gregorian date.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 306;  // 0001-01-01 is day -306 of era 0
}

constexpr std::int64_t kExactDoubleLimit = std::int64_t{1} << 53;

Interned kNow{"now"};
Interned kTime{"time"};
Interned kIsoformat{"isoformat"};
Interned kTotalSeconds{"total_seconds"};

}  // namespace

bool init() {
    PyDateTime_IMPORT;
    if (PyDateTimeAPI == nullptr) return false;
    datetime_type = PyDateTimeAPI->DateTimeType;
    return true;
}

Ref now() {
    Ref dt = globals::get(globals::Name::datetime);
    if (!dt) return {};
    if (!globals::is_original(globals::Name::datetime, dt.get()) ||
        dt.get() != reinterpret_cast<PyObject*>(datetime_type)) {
        return call_method(dt.get(), kNow);
    }
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    // Reports read the clock once per instance: the local date and time of a
    // second are worked out once, only the microseconds change within it.
    static time_t cached_second = -1;
    static tm local{};
    if (ts.tv_sec != cached_second) {
        if (localtime_r(&ts.tv_sec, &local) == nullptr) {
            cached_second = -1;
            PyErr_SetFromErrno(PyExc_OSError);
            return {};
        }
        cached_second = ts.tv_sec;
    }
    return Ref::steal(PyDateTime_FromDateAndTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                                 local.tm_hour, local.tm_min, local.tm_sec,
                                                 static_cast<int>(ts.tv_nsec / 1000)));
}

Ref epoch_now() {
    Ref time_module = globals::get(globals::Name::time);
    if (!time_module) return {};
    return call_method(time_module.get(), kTime);
}

std::int64_t micros(PyObject* dt) {
    const std::int64_t days =
        days_from_civil(PyDateTime_GET_YEAR(dt), PyDateTime_GET_MONTH(dt), PyDateTime_GET_DAY(dt)) -
        days_from_civil(1, 1, 1);
    const std::int64_t seconds = days * 86400 + PyDateTime_DATE_GET_HOUR(dt) * 3600 +
                                 PyDateTime_DATE_GET_MINUTE(dt) * 60 + PyDateTime_DATE_GET_SECOND(dt);
    return seconds * 1000000 + PyDateTime_DATE_GET_MICROSECOND(dt);
}

Ref iso_format(PyObject* dt) {
    if (!is_plain(dt)) return call_method(dt, kIsoformat);
    char text[40];
    int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", PyDateTime_GET_YEAR(dt),
                          PyDateTime_GET_MONTH(dt), PyDateTime_GET_DAY(dt), PyDateTime_DATE_GET_HOUR(dt),
                          PyDateTime_DATE_GET_MINUTE(dt), PyDateTime_DATE_GET_SECOND(dt));
    if (const int us = PyDateTime_DATE_GET_MICROSECOND(dt)) {
        n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ".%06d", us);
    }
    return Ref::steal(PyUnicode_FromStringAndSize(text, n));
}

Ref seconds_between(PyObject* start, PyObject* end) {
    if (is_plain(start) && is_plain(end)) {
        const std::int64_t diff = micros(end) - micros(start);
        if (diff > -kExactDoubleLimit && diff < kExactDoubleLimit) {
            return Ref::steal(PyFloat_FromDouble(static_cast<double>(diff) / 1e6));
        }
    }
    Ref delta = Ref::steal(PyNumber_Subtract(end, start));
    if (!delta) return {};
    return call_method(delta.get(), kTotalSeconds);
}

}  // namespace zz::clock
