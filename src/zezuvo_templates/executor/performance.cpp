// Performance events per instance name and their summaries.  Recording and
// summarising run per event, so both stay in C++: events are built without
// __init__, and a summary sorts only when the events are out of time order.
#include <algorithm>
#include <cstdint>
#include <numeric>
#include <utility>
#include <vector>

#include "executor/executor.hpp"
#include "frame/python.hpp"
#include "frame/clock.hpp"
#include "frame/summation.hpp"
#include "records/records.hpp"

namespace zz::executor {
namespace {

using boundary::Kind;
using boundary::Param;
namespace pe = records::performance_event;

Interned kProfit{"profit"};
Interned kWin{"win"};
Interned kTs{"ts"};
Interned kLoss{"loss"};
Interned kNone{"none"};
Interned kAppend{"append"};

// ---- recording ----------------------------------------------------------

Ref type_name(PyObject* value) { return Ref::steal(PyType_GetName(Py_TYPE(value))); }

// float(value), with the failures that make it no number reported as such;
// others (an int too large for a double) pass out unchanged.
Ref to_profit(PyObject* value) {
    if (PyFloat_CheckExact(value)) return Ref::borrow(value);
    if (PyLong_CheckExact(value) || PyBool_Check(value)) {
        const double d = PyLong_AsDouble(value);
        if (d == -1.0 && PyErr_Occurred()) return {};
        return Ref::steal(PyFloat_FromDouble(d));
    }
    Ref converted = Ref::steal(PyNumber_Float(value));
    if (converted || !(PyErr_ExceptionMatches(PyExc_TypeError) || PyErr_ExceptionMatches(PyExc_ValueError))) {
        return converted;
    }
    Ref failure = take_pending();
    Ref type = type_name(value);
    Ref message = type ? Ref::steal(PyUnicode_FromFormat("Event data 'profit' must be a number, got %U", type.get()))
                       : Ref();
    raise_with_context(PyExc_ValueError, message.get(), std::move(failure));
    return {};
}

bool is_reserved_text(PyObject* key) {
    if (key == kProfit.get() || key == kWin.get() || key == kTs.get()) return true;
    const Py_ssize_t length = PyUnicode_GET_LENGTH(key);
    if (length != 2 && length != 3 && length != 6) return false;
    for (Interned* reserved : {&kProfit, &kWin, &kTs}) {
        if (PyUnicode_Compare(key, reserved->get()) == 0) return true;
    }
    return false;
}

// Keys of other types may compare or hash in Python code that changes the
// event data: work on a snapshot of its entries.
Ref extra_entries_slow(PyObject* data) {
    Ref items = Ref::steal(PyDict_Items(data));
    Ref extra = items ? Ref::steal(PyDict_New()) : Ref();
    if (!extra) return {};
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject* item = PyList_GET_ITEM(items.get(), i);
        PyObject* key = PyTuple_GET_ITEM(item, 0);
        bool reserved = false;
        for (Interned* name : {&kProfit, &kWin, &kTs}) {
            const int same = PyObject_RichCompareBool(name->get(), key, Py_EQ);
            if (same < 0) return {};
            if (same) {
                reserved = true;
                break;
            }
        }
        if (!reserved && PyDict_SetItem(extra.get(), key, PyTuple_GET_ITEM(item, 1)) < 0) return {};
    }
    return extra;
}

// Every entry of the event data except profit, win and ts, in its order.
// `reserved` is how many of those three keys the data is known to hold
// (-1: not known): when that is all it holds, there is nothing to look at.
Ref extra_entries(PyObject* data, Py_ssize_t reserved) {
    Ref extra = Ref::steal(PyDict_New());
    if (!extra || PyDict_GET_SIZE(data) == reserved) return extra;
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(data, &pos, &key, &value)) {
        if (!PyUnicode_CheckExact(key)) return extra_entries_slow(data);
        if (!is_reserved_text(key) && PyDict_SetItem(extra.get(), key, value) < 0) return {};
    }
    return extra;
}

// The value under key in the event data, None read as missing; null without error when missing.
Ref entry(PyObject* data, Interned& key) {
    PyObject* value = PyDict_GetItemWithError(data, key.get());
    return Ref::borrow(value == Py_None ? nullptr : value);
}

bool append_event(PyObject* self, PyObject* name, PyObject* event) {
    Ref table = Executor.get(self, field::performance_events);
    if (!table) return false;
    Ref events = lookup(table.get(), name);
    if (!events) {
        if (PyErr_Occurred()) return false;
        events = Ref::steal(PyList_New(0));
        if (!events || PyObject_SetItem(table.get(), name, events.get()) < 0) return false;
    }
    if (PyList_CheckExact(events.get())) return PyList_Append(events.get(), event) == 0;
    return bool(call_method(events.get(), kAppend, event));
}

PyObject* state_update(PyObject* self, const boundary::Args& a) {
    PyObject* name = a[0];
    PyObject* data = a[1];
    if (!intern({&kProfit, &kWin, &kTs})) return nullptr;
    Ref profit = entry(data, kProfit);
    if (!profit && PyErr_Occurred()) return nullptr;
    Ref win = entry(data, kWin);
    if (!win && PyErr_Occurred()) return nullptr;
    if (!profit) {
        PyErr_SetString(PyExc_ValueError, "Event data must contain 'profit' field");
        return nullptr;
    }
    if (!win) {
        PyErr_SetString(PyExc_ValueError, "Event data must contain 'win' field");
        return nullptr;
    }
    Ref profit_value = to_profit(profit.get());
    if (!profit_value) return nullptr;
    if (!PyBool_Check(win.get())) {
        Ref type = type_name(win.get());
        if (type) PyErr_Format(PyExc_ValueError, "Event data 'win' must be a boolean, got %U", type.get());
        return nullptr;
    }
    Ref timestamp = Ref::borrow(PyDict_GetItemWithError(data, kTs.get()));
    const bool given_time = bool(timestamp);
    if (!given_time) {
        if (PyErr_Occurred()) return nullptr;
        timestamp = clock::now();
        if (!timestamp) return nullptr;
    }
    // A patched clock may have changed the data: then its keys are not known.
    Ref metadata = extra_entries(data, given_time ? 3 : -1);
    if (!metadata) return nullptr;
    Ref event = records::PerformanceEvent.make({timestamp.get(), profit_value.get(), win.get(), metadata.get()});
    if (!event || !append_event(self, name, event.get())) return nullptr;
    Py_RETURN_NONE;
}

// ---- reading in time order ----------------------------------------------

struct Timed {
    Ref event;
    Ref ts;  // held: a comparison may run code that reassigns the event's field
    clock::OrderKey key{};
    bool plain = false;
    double profit = 0.0;
    bool win = false;
};

bool read_time(PyObject* event, Timed& t) {
    t.event = Ref::borrow(event);
    t.ts = records::PerformanceEvent.get(event, pe::timestamp);
    if (!t.ts) return false;
    t.plain = clock::is_plain(t.ts.get());
    if (t.plain) t.key = clock::order_key(t.ts.get());
    return true;
}

bool read_result(Timed& t) {
    Ref profit = records::PerformanceEvent.get(t.event.get(), pe::profit);
    if (!profit) return false;
    t.profit = PyFloat_CheckExact(profit.get()) ? PyFloat_AS_DOUBLE(profit.get()) : PyFloat_AsDouble(profit.get());
    if (t.profit == -1.0 && PyErr_Occurred()) return false;
    Ref win = records::PerformanceEvent.get(t.event.get(), pe::win);
    if (!win) return false;
    const int truth = win.get() == Py_True ? 1 : win.get() == Py_False ? 0 : PyObject_IsTrue(win.get());
    if (truth < 0) return false;
    t.win = truth != 0;
    return true;
}

// a.ts < b.ts as the host compares them; -1 on error.
int earlier(const Timed& a, const Timed& b) {
    if (a.plain && b.plain) return a.key < b.key;
    return PyObject_RichCompareBool(a.ts.get(), b.ts.get(), Py_LT);
}

// Stable merge sort by `<` alone, as list.sort orders: an event moves before
// an earlier-recorded one only when its timestamp is strictly less.  Every
// loop is bounded by indexes, so a `<` that is no ordering cannot derail it.
bool sort_by_time(std::vector<Timed>& events) {
    const std::size_t n = events.size();
    std::vector<std::size_t> order(n);
    std::vector<std::size_t> merged(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t lo = 0; lo < n; lo += 2 * width) {
            const std::size_t mid = std::min(lo + width, n);
            const std::size_t hi = std::min(lo + 2 * width, n);
            std::size_t i = lo;
            std::size_t j = mid;
            std::size_t k = lo;
            while (i < mid && j < hi) {
                const int less = earlier(events[order[j]], events[order[i]]);
                if (less < 0) return false;
                merged[k++] = less ? order[j++] : order[i++];
            }
            while (i < mid) merged[k++] = order[i++];
            while (j < hi) merged[k++] = order[j++];
        }
        order.swap(merged);
    }
    std::vector<Timed> sorted;
    sorted.reserve(n);
    for (std::size_t index : order) sorted.push_back(std::move(events[index]));
    events = std::move(sorted);
    return true;
}

// A snapshot of the events recorded under the name; null without error when there is no list.
Ref event_snapshot(PyObject* self, PyObject* name) {
    Ref table = Executor.get(self, field::performance_events);
    Ref events = table ? lookup(table.get(), name) : Ref();
    return events ? Ref::steal(PySequence_List(events.get())) : Ref();
}

// Totals over events in time order.
struct Tally {
    NeumaierSum profit;
    Py_ssize_t wins = 0;
    Py_ssize_t streak = 0;
    bool streak_win = false;

    void add(double event_profit, bool win) {
        profit.add(event_profit);
        wins += win;
        // From (0, loss) the first event gives 1.  Arithmetic, not a branch:
        // results alternate unpredictably, and a branch would mispredict.
        const Py_ssize_t same = win == streak_win;
        streak = streak * same + 1;
        streak_win = win;
    }
    void add(const Timed& t) { add(t.profit, t.win); }
};

// Reads the events in one pass, tallying while they are in time order;
// only events out of order pay for a sort and a second tally.
bool collect(PyObject* snapshot, std::vector<Timed>& events, Tally* tally) {
    const Py_ssize_t n = PyList_GET_SIZE(snapshot);
    events.reserve(static_cast<std::size_t>(n));
    bool ordered = true;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Timed t;
        if (!read_time(PyList_GET_ITEM(snapshot, i), t)) return false;
        if (tally != nullptr && !read_result(t)) return false;
        if (ordered && !events.empty()) {
            const int less = earlier(t, events.back());
            if (less < 0) return false;
            ordered = !less;
        }
        if (ordered && tally != nullptr) tally->add(t);
        events.push_back(std::move(t));
    }
    if (ordered) return true;
    if (!sort_by_time(events)) return false;
    if (tally != nullptr) {
        *tally = Tally{};
        for (const Timed& t : events) tally->add(t);
    }
    return true;
}

PyObject* score_get(PyObject* self, const boundary::Args& a) {
    Ref snapshot = event_snapshot(self, a[0]);
    if (!snapshot) return PyErr_Occurred() ? nullptr : PyList_New(0);
    std::vector<Timed> events;
    if (!collect(snapshot.get(), events, nullptr) || !intern({&kProfit, &kWin, &kTs})) return nullptr;
    Ref result = Ref::steal(PyList_New(0));
    if (!result) return nullptr;
    for (const Timed& t : events) {
        Ref profit = records::PerformanceEvent.get(t.event.get(), pe::profit);
        Ref win = profit ? records::PerformanceEvent.get(t.event.get(), pe::win) : Ref();
        Ref metadata = win ? records::PerformanceEvent.get(t.event.get(), pe::metadata) : Ref();
        Ref map = metadata ? Ref::steal(PyDict_New()) : Ref();
        if (!map || PyDict_SetItem(map.get(), kTs.get(), t.ts.get()) < 0 ||
            PyDict_SetItem(map.get(), kProfit.get(), profit.get()) < 0 ||
            PyDict_SetItem(map.get(), kWin.get(), win.get()) < 0 || PyDict_Update(map.get(), metadata.get()) < 0 ||
            PyList_Append(result.get(), map.get()) < 0) {
            return nullptr;
        }
    }
    return result.release();
}

Ref count(Py_ssize_t n) { return Ref::steal(PyLong_FromSsize_t(n)); }
Ref real(double d) { return Ref::steal(PyFloat_FromDouble(d)); }

PyObject* empty_summary(PyObject* name) {
    if (!kNone.get()) return nullptr;
    Ref zero = count(0);
    Ref zero_real = real(0.0);
    return records::PerformanceSummary
        .make({name, zero.get(), zero_real.get(), zero.get(), zero.get(), zero_real.get(), zero.get(), kNone.get(),
               zero_real.get(), Py_None, Py_None, zero_real.get()})
        .release();
}

// ---- summaries without Python-level work ------------------------------------
//
// When every event is an exact PerformanceEvent holding a plain date-time, an
// exact float and a bool, nothing that reads, compares or sums them can run
// Python code: the list is read in place, by slot, with no snapshot and no
// per-event references.  Anything else takes the general path above, which
// gives the same results.

struct PlainEvent {
    PyObject* ts;  // borrowed
    double profit;
    bool win;
};

// The event's fields when it qualifies for the fast path.
inline bool read_plain(PyObject* event, PlainEvent& out) {
    const records::RecordType& type = records::PerformanceEvent;
    if (!type.is_exact(event)) return false;
    PyObject* ts = type.peek(event, pe::timestamp);
    PyObject* profit = type.peek(event, pe::profit);
    PyObject* win = type.peek(event, pe::win);
    if (ts == nullptr || profit == nullptr || !clock::is_plain(ts) || !PyFloat_CheckExact(profit) ||
        (win != Py_True && win != Py_False)) {
        return false;
    }
    out = {ts, PyFloat_AS_DOUBLE(profit), win == Py_True};
    return true;
}

struct Summarised {
    Py_ssize_t total = 0;
    Tally tally;
    Ref first;  // timestamps of the earliest and the latest event
    Ref last;
};

// Summarises a non-empty list of plain events; false (nothing set, no error)
// when an event needs the general path.
bool summarise_plain(PyObject* list, Summarised& out) {
    const Py_ssize_t n = PyList_GET_SIZE(list);
    PyObject* const* items = reinterpret_cast<PyListObject*>(list)->ob_item;
    PlainEvent e;
    clock::OrderKey previous{};
    Tally tally;  // a local, so that it stays in registers
    Py_ssize_t i = 0;
    for (; i < n; ++i) {
        if (!read_plain(items[i], e)) return false;
        const clock::OrderKey key = clock::order_key(e.ts);
        if (key < previous) break;
        previous = key;
        tally.add(e.profit, e.win);
    }
    Py_ssize_t first = 0;
    Py_ssize_t last = n - 1;
    if (i < n) {
        // Out of time order: sorting by (time, recording index) is the stable sort by time.
        struct Keyed {
            clock::OrderKey key;
            Py_ssize_t index;
            double profit;
            bool win;
        };
        std::vector<Keyed> keyed(static_cast<std::size_t>(n));
        for (Py_ssize_t j = 0; j < n; ++j) {
            if (!read_plain(items[j], e)) return false;
            keyed[static_cast<std::size_t>(j)] = {clock::order_key(e.ts), j, e.profit, e.win};
        }
        std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
            if (a.key < b.key) return true;
            return !(b.key < a.key) && a.index < b.index;
        });
        tally = Tally{};
        for (const Keyed& k : keyed) tally.add(k.profit, k.win);
        first = keyed.front().index;
        last = keyed.back().index;
    }
    out.tally = tally;
    out.total = n;
    out.first = Ref::borrow(records::PerformanceEvent.peek(items[first], pe::timestamp));
    out.last = Ref::borrow(records::PerformanceEvent.peek(items[last], pe::timestamp));
    return true;
}

// The general path: a snapshot of any sequence, read through the host's protocols.
// False with an error set, or with `out.total` 0 when there are no events.
bool summarise_general(PyObject* events, Summarised& out) {
    Ref snapshot = Ref::steal(PySequence_List(events));
    if (!snapshot) return false;
    if (PyList_GET_SIZE(snapshot.get()) == 0) return true;
    std::vector<Timed> timed;
    if (!collect(snapshot.get(), timed, &out.tally)) return false;
    out.total = static_cast<Py_ssize_t>(timed.size());
    out.first = timed.front().ts;
    out.last = timed.back().ts;
    return true;
}

PyObject* score_summary(PyObject* self, const boundary::Args& a) {
    PyObject* name = a[0];
    Ref table = Executor.get(self, field::performance_events);
    if (!table) return nullptr;
    Ref events = lookup(table.get(), name);
    if (!events) return PyErr_Occurred() ? nullptr : empty_summary(name);
    Summarised s;
    const bool plain = PyList_CheckExact(events.get()) && PyList_GET_SIZE(events.get()) > 0 &&
                       summarise_plain(events.get(), s);
    if (!plain) {
        s = Summarised{};
        if (!summarise_general(events.get(), s)) return nullptr;
    }
    if (s.total == 0) return empty_summary(name);
    Ref runtime = clock::seconds_between(s.first.get(), s.last.get());
    if (!runtime || !intern({&kWin, &kLoss})) return nullptr;
    const double total_profit = s.tally.profit.result();
    const double events_count = static_cast<double>(s.total);
    Ref total_events = count(s.total);
    Ref profit = real(total_profit);
    Ref win_count = count(s.tally.wins);
    Ref loss_count = count(s.total - s.tally.wins);
    Ref win_rate = real(static_cast<double>(s.tally.wins) / events_count);
    Ref streak = count(s.tally.streak);
    Ref average = real(total_profit / events_count);
    return records::PerformanceSummary
        .make({name, total_events.get(), profit.get(), win_count.get(), loss_count.get(), win_rate.get(),
               streak.get(), s.tally.streak_win ? kWin.get() : kLoss.get(), runtime.get(), s.first.get(),
               s.last.get(), average.get()})
        .release();
}

constexpr Param kStateUpdateParams[] = {{"name", Kind::Str}, {"event_data", Kind::Dict}};
constexpr Param kNameParam[] = {{"name", Kind::Str}};

constexpr boundary::Method kStateUpdate{
    "state_update", boundary::Receiver::Self, kStateUpdateParams,
    "Record a performance event for the name: event_data needs 'profit' (a number) and 'win' (a bool); "
    "'ts' sets the time, every other entry is kept as metadata.",
    state_update};
constexpr boundary::Method kScoreGet{"score_get", boundary::Receiver::Self, kNameParam,
                                     "The name's events in time order, as maps: ts, profit, win, then metadata.",
                                     score_get};
constexpr boundary::Method kScoreSummary{"score_summary", boundary::Receiver::Self, kNameParam,
                                         "Totals, win rate, current streak and time span of the name's events.",
                                         score_summary};

}  // namespace

std::span<const boundary::Binding> performance_methods() {
    static const boundary::Binding kMethods[] = {boundary::bind<kStateUpdate>(), boundary::bind<kScoreGet>(),
                                                 boundary::bind<kScoreSummary>()};
    return kMethods;
}

}  // namespace zz::executor
