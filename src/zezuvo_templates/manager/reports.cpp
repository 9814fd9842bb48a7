// The five system-wide reports.  Each fetches the metadata map once through
// the Python-level get_all_active_templates_comprehensive() (so subclasses
// and patches are honoured) and computes everything in C++ from that
// snapshot; records are read by slot when they are our own exact types.
#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <vector>

#include "executor/executor.hpp"
#include "frame/clock.hpp"
#include "frame/summation.hpp"
#include "manager/calls.hpp"
#include "manager/manager.hpp"
#include "manager/names.hpp"
#include "records/records.hpp"

namespace zz::manager {
namespace {

using boundary::Kind;
using boundary::Param;
using records::RecordType;
namespace md = records::template_metadata;
namespace ps = records::performance_summary;

Interned kValid{"valid"};
Interned kError{"error"};
Interned kEmpty{""};
Interned kNoVariables{"No template variables found"};
Interned kNoActiveInstances{"No active instances"};

Ref metadata_map(PyObject* self) { return call_method(self, op::get_all_active_templates_comprehensive); }

struct Item {
    Ref key;
    Ref value;
};

// The (key, value) pairs of a mapping, taken before anything can call back
// into Python and change it.
bool items_of(PyObject* mapping, std::vector<Item>& out) {
    if (PyDict_CheckExact(mapping)) {
        out.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(mapping)));
        Py_ssize_t pos = 0;
        PyObject* key;
        PyObject* value;
        while (PyDict_Next(mapping, &pos, &key, &value)) out.push_back({Ref::borrow(key), Ref::borrow(value)});
        return true;
    }
    Ref items = Ref::steal(PyMapping_Items(mapping));
    if (!items) return false;
    const Py_ssize_t n = PyList_GET_SIZE(items.get());
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PyList_GET_ITEM(items.get(), i);
        Ref pair = PyTuple_CheckExact(item) ? Ref::borrow(item) : Ref::steal(PySequence_Tuple(item));
        if (!pair) return false;
        if (PyTuple_GET_SIZE(pair.get()) != 2) {
            PyErr_Format(PyExc_ValueError, "items() of %.200s must yield (key, value) pairs", Py_TYPE(mapping)->tp_name);
            return false;
        }
        out.push_back({Ref::borrow(PyTuple_GET_ITEM(pair.get(), 0)), Ref::borrow(PyTuple_GET_ITEM(pair.get(), 1))});
    }
    return true;
}

Ref registry_of(PyObject* self) { return Manager.get(self, field::executors); }

// Reads the fields in order into out[0..], stopping at the first failure.
bool read_fields(const RecordType& type, PyObject* obj, std::initializer_list<std::size_t> fields, Ref* out) {
    for (std::size_t f : fields) {
        *out = type.get(obj, f);
        if (!*out) return false;
        ++out;
    }
    return true;
}

bool as_double(PyObject* value, double& out) {
    if (PyFloat_CheckExact(value)) {
        out = PyFloat_AS_DOUBLE(value);
        return true;
    }
    out = PyFloat_AsDouble(value);
    return !(out == -1.0 && PyErr_Occurred());
}

// value > 0 (1), not (0), error (-1).
int is_positive(PyObject* value) {
    if (PyLong_CheckExact(value)) {
        int overflow = 0;
        const long x = PyLong_AsLongAndOverflow(value, &overflow);
        return overflow != 0 ? overflow > 0 : x > 0;
    }
    Ref zero = Ref::steal(PyLong_FromLong(0));
    return zero ? PyObject_RichCompareBool(value, zero.get(), Py_GT) : -1;
}

// Exact integer total: machine arithmetic while it fits, Python ints beyond
// (and for values that are not exact ints, with the host's own addition).
class IntTotal {
public:
    bool add(PyObject* value) {
        if (!slow_ && PyLong_CheckExact(value)) {
            int overflow = 0;
            const long long x = PyLong_AsLongLongAndOverflow(value, &overflow);
            long long sum = 0;
            if (overflow == 0 && !__builtin_add_overflow(fast_, x, &sum)) {
                fast_ = sum;
                return true;
            }
        }
        if (!slow_) {
            slow_ = Ref::steal(PyLong_FromLongLong(fast_));
            if (!slow_) return false;
        }
        slow_ = Ref::steal(PyNumber_Add(slow_.get(), value));
        return static_cast<bool>(slow_);
    }
    Ref result() const { return slow_ ? slow_ : Ref::steal(PyLong_FromLongLong(fast_)); }

private:
    long long fast_ = 0;
    Ref slow_;
};

Ref new_float(double v) { return Ref::steal(PyFloat_FromDouble(v)); }
Ref new_int(Py_ssize_t v) { return Ref::steal(PyLong_FromSsize_t(v)); }

// A profit total; the integer 0 when nothing was summed, as a sum over
// nothing is.
Ref profit_total(const NeumaierSum& sum, bool any) { return any ? new_float(sum.result()) : new_int(0); }

// Descending by profit; NaN sorts last so the order stays a strict weak one.
bool higher_profit(double a, double b) {
    if (std::isnan(a)) return false;
    if (std::isnan(b)) return true;
    return a > b;
}

constexpr std::size_t kTopPerformers = 5;

PyObject* get_system_health_report(PyObject* self, const boundary::Args&) {
    Ref metadata = metadata_map(self);
    if (!metadata) return nullptr;
    std::vector<Item> instances;
    if (!items_of(metadata.get(), instances)) return nullptr;
    Ref registry = registry_of(self);
    Ref template_names = registry ? Ref::steal(PyMapping_Keys(registry.get())) : Ref();
    if (!template_names) return nullptr;

    Ref parts = Ref::steal(PySet_New(nullptr));
    Ref instance_names = Ref::steal(PyList_New(static_cast<Py_ssize_t>(instances.size())));
    if (!parts || !instance_names) return nullptr;
    struct Performer {
        Ref name;
        Ref profit;
        double key;
        std::size_t order;  // position among the instances: ties keep it
    };
    std::vector<Performer> performers;
    NeumaierSum profit;
    bool any_summary = false;
    IntTotal events;
    for (std::size_t i = 0; i < instances.size(); ++i) {
        const Item& item = instances[i];
        PyList_SET_ITEM(instance_names.get(), static_cast<Py_ssize_t>(i), Py_NewRef(item.key.get()));
        Ref part = template_part(item.key.get());
        if (!part || PySet_Add(parts.get(), part.get()) < 0) return nullptr;
        Ref summary = records::TemplateMetadata.get(item.value.get(), md::performance_summary);
        if (!summary) return nullptr;
        if (summary.get() == Py_None) continue;
        any_summary = true;
        std::array<Ref, 2> s;  // total_events, total_profit
        if (!read_fields(records::PerformanceSummary, summary.get(), {ps::total_events, ps::total_profit}, s.data())) {
            return nullptr;
        }
        double p = 0.0;
        if (!as_double(s[1].get(), p) || !events.add(s[0].get())) return nullptr;
        profit.add(p);
        const int has_data = is_positive(s[0].get());
        if (has_data < 0) return nullptr;
        if (has_data) performers.push_back({item.key, s[1], p, performers.size()});
    }

    // Only the first few are shown: a partial sort with the instance order as
    // the tie-break gives the same first entries as a stable sort of all.
    const std::size_t shown = std::min(performers.size(), kTopPerformers);
    std::partial_sort(performers.begin(), performers.begin() + static_cast<std::ptrdiff_t>(shown), performers.end(),
                      [](const Performer& a, const Performer& b) {
                          if (higher_profit(a.key, b.key)) return true;
                          return !higher_profit(b.key, a.key) && a.order < b.order;
                      });
    Ref top = Ref::steal(PyList_New(static_cast<Py_ssize_t>(shown)));
    if (!top) return nullptr;
    for (std::size_t i = 0; i < shown; ++i) {
        PyObject* pair = PyTuple_Pack(2, performers[i].name.get(), performers[i].profit.get());
        if (pair == nullptr) return nullptr;
        PyList_SET_ITEM(top.get(), static_cast<Py_ssize_t>(i), pair);
    }

    Ref now = clock::now();
    Ref stamp = now ? clock::iso_format(now.get()) : Ref();
    if (!stamp) return nullptr;
    Ref total_templates = new_int(PyList_GET_SIZE(template_names.get()));
    Ref total_active = new_int(static_cast<Py_ssize_t>(instances.size()));
    Ref with_instances = new_int(PySet_GET_SIZE(parts.get()));
    Ref with_performance = new_int(static_cast<Py_ssize_t>(performers.size()));
    Ref total_profit = profit_total(profit, any_summary);
    Ref total_events = events.result();
    return records::SystemHealthReport
        .make({total_templates.get(), total_active.get(), with_instances.get(), with_performance.get(),
               total_profit.get(), total_events.get(), top.get(), template_names.get(), instance_names.get(),
               stamp.get()})
        .release();
}

// The "valid" result of one template; null with the inspection's error set.
Ref inspect_template(PyObject* self, PyObject* name, PyObject* executor) {
    Ref variables = call_method(executor, op::get_template_variables);
    if (!variables) return {};
    Ref info = call_method(self, op::get_template_info, name);
    if (!info) return {};
    Ref warnings = Ref::steal(PyList_New(0));
    if (!warnings) return {};
    const int no_variables = PyObject_Not(variables.get());
    if (no_variables < 0 || (no_variables && PyList_Append(warnings.get(), kNoVariables.get()) < 0)) return {};
    if (info.get() != Py_None) {
        Ref count = records::TemplateInfo.get(info.get(), records::template_info::active_count);
        Ref zero = count ? Ref::steal(PyLong_FromLong(0)) : Ref();
        if (!zero) return {};
        const int idle = PyObject_RichCompareBool(count.get(), zero.get(), Py_EQ);
        if (idle < 0 || (idle && PyList_Append(warnings.get(), kNoActiveInstances.get()) < 0)) return {};
    }
    Ref variable_list = Ref::steal(PySequence_List(variables.get()));
    if (!variable_list) return {};
    Ref active = call_method(executor, op::list_active);
    const Py_ssize_t active_count = active ? PyObject_Size(active.get()) : -1;
    if (active_count < 0) return {};
    Ref active_instances = new_int(active_count);
    Ref source_id = active_instances ? executor::Executor.get(executor, executor::field::template_source_id) : Ref();
    Ref errors = source_id ? Ref::steal(PyList_New(0)) : Ref();
    if (!errors) return {};
    return records::TemplateValidationResult.make({kValid.get(), variable_list.get(), active_instances.get(),
                                                   source_id.get(), errors.get(), warnings.get()});
}

// Takes the raised exception out of the error indicator.
Ref take_exception() {
#if PY_VERSION_HEX >= 0x030C0000
    return Ref::steal(PyErr_GetRaisedException());
#else
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return Ref::steal(value);
#endif
}

Ref error_result(PyObject* message) {
    Ref errors = Ref::steal(PyList_New(1));
    if (!errors) return {};
    PyList_SET_ITEM(errors.get(), 0, Py_NewRef(message));
    Ref variables = Ref::steal(PyList_New(0));
    Ref warnings = Ref::steal(PyList_New(0));
    Ref zero = Ref::steal(PyLong_FromLong(0));
    if (!variables || !warnings || !zero) return {};
    return records::TemplateValidationResult.make(
        {kError.get(), variables.get(), zero.get(), kEmpty.get(), errors.get(), warnings.get()});
}

PyObject* validate_all_templates(PyObject* self, const boundary::Args&) {
    Ref registry = registry_of(self);
    if (!registry) return nullptr;
    std::vector<Item> templates;
    if (!items_of(registry.get(), templates)) return nullptr;
    Ref results = Ref::steal(PyDict_New());
    if (!results) return nullptr;
    for (const Item& t : templates) {
        Ref result = inspect_template(self, t.key.get(), t.value.get());
        if (!result) {
            // Only ordinary errors are a template's own; interruptions end the report.
            if (!PyErr_ExceptionMatches(PyExc_Exception)) return nullptr;
            Ref error = take_exception();
            Ref message = error ? Ref::steal(PyObject_Str(error.get())) : Ref();
            if (!message) return nullptr;
            result = error_result(message.get());
            if (!result) return nullptr;
        }
        if (PyDict_SetItem(results.get(), t.key.get(), result.get()) < 0) return nullptr;
    }
    return results.release();
}

PyObject* get_template_usage_statistics(PyObject* self, const boundary::Args&) {
    Ref metadata = metadata_map(self);
    Ref instance_names = metadata ? Ref::steal(PyMapping_Keys(metadata.get())) : Ref();
    if (!instance_names) return nullptr;
    Ref registry = registry_of(self);
    Ref template_names = registry ? Ref::steal(PyMapping_Keys(registry.get())) : Ref();
    if (!template_names) return nullptr;

    // Our own map, out of reach of any callback while it is built and scanned.
    Ref usage = Ref::steal(PyDict_New());
    if (!usage) return nullptr;
    const Py_ssize_t total_instances = PyList_GET_SIZE(instance_names.get());
    for (Py_ssize_t i = 0; i < total_instances; ++i) {
        Ref part = template_part(PyList_GET_ITEM(instance_names.get(), i));
        if (!part) return nullptr;
        PyObject* current = PyDict_GetItemWithError(usage.get(), part.get());
        if (current == nullptr && PyErr_Occurred()) return nullptr;
        Ref count = new_int(current == nullptr ? 1 : PyLong_AsSsize_t(current) + 1);
        if (!count || PyDict_SetItem(usage.get(), part.get(), count.get()) < 0) return nullptr;
    }

    Ref most = Ref::borrow(Py_None);
    Ref least = Ref::borrow(Py_None);
    Ref avg = new_int(0);  // no template in use
    const Py_ssize_t used = PyDict_GET_SIZE(usage.get());
    if (used > 0) {
        PyObject *key = nullptr, *value = nullptr, *most_key = nullptr, *most_value = nullptr,
                 *least_key = nullptr, *least_value = nullptr;
        Py_ssize_t most_count = 0, least_count = 0, pos = 0;
        while (PyDict_Next(usage.get(), &pos, &key, &value)) {
            const Py_ssize_t count = PyLong_AsSsize_t(value);
            if (most_key == nullptr || count > most_count) {
                most_key = key, most_value = value, most_count = count;
            }
            if (least_key == nullptr || count < least_count) {
                least_key = key, least_value = value, least_count = count;
            }
        }
        most = Ref::steal(PyTuple_Pack(2, most_key, most_value));
        least = Ref::steal(PyTuple_Pack(2, least_key, least_value));
        if (!most || !least) return nullptr;
        avg = new_float(static_cast<double>(total_instances) / static_cast<double>(used));
    }

    Ref unused = Ref::steal(PyList_New(0));
    if (!unused) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(template_names.get()); ++i) {
        PyObject* name = PyList_GET_ITEM(template_names.get(), i);
        const int in_use = PyDict_Contains(usage.get(), name);
        if (in_use < 0 || (!in_use && PyList_Append(unused.get(), name) < 0)) return nullptr;
    }
    Ref total = new_int(total_instances);
    Ref templates = new_int(PyList_GET_SIZE(template_names.get()));
    if (!avg) return nullptr;
    return records::TemplateUsageStatistics
        .make({total.get(), templates.get(), usage.get(), most.get(), least.get(), avg.get(), unused.get()})
        .release();
}

Ref template_definition(PyObject* executor) {
    Ref source_id = executor::Executor.get(executor, executor::field::template_source_id);
    Ref variables = source_id ? call_method(executor, op::get_template_variables) : Ref();
    Ref variable_list = variables ? Ref::steal(PySequence_List(variables.get())) : Ref();
    Ref raw = variable_list ? executor::Executor.get(executor, executor::field::template_content) : Ref();
    if (!raw) return {};
    return records::TemplateDefinition.make({source_id.get(), variable_list.get(), raw.get()});
}

Ref instance_configuration(PyObject* name, PyObject* metadata, bool include_performance) {
    Ref part = template_part(name);
    if (!part) return {};
    std::array<Ref, 6> m;  // in the order of the fields below
    if (!read_fields(records::TemplateMetadata, metadata,
                     {md::template_parameters, md::rendered_dsl, md::activated_at, md::predicate_count,
                      md::start_predicate_count, md::performance_summary},
                     m.data())) {
        return {};
    }
    Ref activated_at = clock::iso_format(m[2].get());
    if (!activated_at) return {};
    Ref performance = Ref::borrow(Py_None);
    if (include_performance && m[5].get() != Py_None) {
        std::array<Ref, 5> s;
        if (!read_fields(records::PerformanceSummary, m[5].get(),
                         {ps::total_events, ps::total_profit, ps::win_rate, ps::current_streak, ps::streak_type},
                         s.data())) {
            return {};
        }
        performance =
            records::ExportPerformanceData.make({s[0].get(), s[1].get(), s[2].get(), s[3].get(), s[4].get()});
        if (!performance) return {};
    }
    return records::InstanceConfiguration.make({part.get(), m[0].get(), m[1].get(), activated_at.get(), m[3].get(),
                                                m[4].get(), performance.get()});
}

PyObject* export_template_configurations(PyObject* self, const boundary::Args& a) {
    const bool include_performance = a.flag(0);
    Ref metadata = metadata_map(self);
    if (!metadata) return nullptr;
    std::vector<Item> instances;
    if (!items_of(metadata.get(), instances)) return nullptr;
    Ref registry = registry_of(self);
    if (!registry) return nullptr;
    std::vector<Item> executors;
    if (!items_of(registry.get(), executors)) return nullptr;

    Ref templates = Ref::steal(PyDict_New());
    if (!templates) return nullptr;
    for (const Item& e : executors) {
        Ref definition = template_definition(e.value.get());
        if (!definition || PyDict_SetItem(templates.get(), e.key.get(), definition.get()) < 0) return nullptr;
    }
    Ref configurations = Ref::steal(PyDict_New());
    if (!configurations) return nullptr;
    for (const Item& i : instances) {
        Ref configuration = instance_configuration(i.key.get(), i.value.get(), include_performance);
        if (!configuration || PyDict_SetItem(configurations.get(), i.key.get(), configuration.get()) < 0) {
            return nullptr;
        }
    }

    Ref now = clock::now();
    Ref stamp = now ? clock::iso_format(now.get()) : Ref();
    Ref total_templates = new_int(static_cast<Py_ssize_t>(executors.size()));
    Ref total_active = new_int(static_cast<Py_ssize_t>(instances.size()));
    if (!stamp || !total_templates || !total_active) return nullptr;
    Ref system_info = records::SystemInfo.make({total_templates.get(), total_active.get()});
    if (!system_info) return nullptr;
    return records::TemplateConfigurationExport
        .make({stamp.get(), system_info.get(), templates.get(), configurations.get()})
        .release();
}

struct Aggregate {
    Ref part;
    double profit = 0.0;  // plain addition, in instance order
    IntTotal events;
    IntTotal wins;
    Py_ssize_t instances = 0;
};

PyObject* get_performance_analytics(PyObject* self, const boundary::Args&) {
    Ref metadata = metadata_map(self);
    if (!metadata) return nullptr;
    std::vector<Item> instances;
    if (!items_of(metadata.get(), instances)) return nullptr;

    Ref all = Ref::steal(PyList_New(0));
    Ref positions = Ref::steal(PyDict_New());  // template part -> index into aggregates
    if (!all || !positions) return nullptr;
    std::vector<double> profits;  // parallel to `all`
    std::vector<Aggregate> aggregates;
    NeumaierSum system_profit;
    IntTotal system_events, system_wins;
    for (const Item& item : instances) {
        Ref summary = records::TemplateMetadata.get(item.value.get(), md::performance_summary);
        if (!summary) return nullptr;
        if (summary.get() == Py_None) continue;
        Ref total_events = records::PerformanceSummary.get(summary.get(), ps::total_events);
        const int has_data = total_events ? is_positive(total_events.get()) : -1;
        if (has_data < 0) return nullptr;
        if (!has_data) continue;
        std::array<Ref, 4> s;  // total_profit, win_rate, current_streak, win_count
        if (!read_fields(records::PerformanceSummary, summary.get(),
                         {ps::total_profit, ps::win_rate, ps::current_streak, ps::win_count}, s.data())) {
            return nullptr;
        }
        double profit = 0.0;
        if (!as_double(s[0].get(), profit)) return nullptr;
        Ref part = template_part(item.key.get());
        Ref entry = part ? records::InstancePerformanceData.make({item.key.get(), part.get(), s[0].get(), s[1].get(),
                                                                  total_events.get(), s[2].get()})
                         : Ref();
        if (!entry || PyList_Append(all.get(), entry.get()) < 0) return nullptr;
        profits.push_back(profit);

        PyObject* position = PyDict_GetItemWithError(positions.get(), part.get());
        if (position == nullptr && PyErr_Occurred()) return nullptr;
        std::size_t at = aggregates.size();
        if (position == nullptr) {
            Ref index = new_int(static_cast<Py_ssize_t>(at));
            if (!index || PyDict_SetItem(positions.get(), part.get(), index.get()) < 0) return nullptr;
            aggregates.push_back({part});
        } else {
            at = static_cast<std::size_t>(PyLong_AsSsize_t(position));
        }
        Aggregate& aggregate = aggregates[at];
        aggregate.profit += profit;
        if (!aggregate.events.add(total_events.get()) || !aggregate.wins.add(s[3].get())) return nullptr;
        ++aggregate.instances;

        system_profit.add(profit);
        if (!system_events.add(total_events.get()) || !system_wins.add(s[3].get())) return nullptr;
    }

    // First of equal profits wins both scans.
    Ref best_instance = Ref::borrow(Py_None);
    Ref worst_instance = Ref::borrow(Py_None);
    if (!profits.empty()) {
        std::size_t best = 0, worst = 0;
        for (std::size_t i = 1; i < profits.size(); ++i) {
            if (profits[i] > profits[best]) best = i;
            if (profits[i] < profits[worst]) worst = i;
        }
        best_instance = Ref::borrow(PyList_GET_ITEM(all.get(), static_cast<Py_ssize_t>(best)));
        worst_instance = Ref::borrow(PyList_GET_ITEM(all.get(), static_cast<Py_ssize_t>(worst)));
    }

    Ref by_template = Ref::steal(PyDict_New());
    if (!by_template) return nullptr;
    Ref best_template = Ref::borrow(Py_None);
    double best_average = 0.0;
    for (const Aggregate& aggregate : aggregates) {
        Ref profit = new_float(aggregate.profit);
        Ref events = aggregate.events.result();
        Ref wins = aggregate.wins.result();
        Ref count = new_int(aggregate.instances);
        Ref record = profit && events && wins && count
                         ? records::TemplatePerformanceAggregate.make({profit.get(), events.get(), wins.get(), count.get()})
                         : Ref();
        if (!record || PyDict_SetItem(by_template.get(), aggregate.part.get(), record.get()) < 0) return nullptr;
        const double average = aggregate.profit / static_cast<double>(aggregate.instances);
        if (best_template.get() == Py_None || average > best_average) {
            best_template = Ref::steal(PyTuple_Pack(2, aggregate.part.get(), record.get()));
            if (!best_template) return nullptr;
            best_average = average;
        }
    }

    Ref total_events = system_events.result();
    Ref total_wins = system_wins.result();
    if (!total_events || !total_wins) return nullptr;
    const int any_events = is_positive(total_events.get());
    if (any_events < 0) return nullptr;
    Ref win_rate = any_events ? Ref::steal(PyNumber_TrueDivide(total_wins.get(), total_events.get())) : new_int(0);
    Ref total_profit = profit_total(system_profit, !profits.empty());
    Ref with_data = new_int(PyList_GET_SIZE(all.get()));
    if (!win_rate || !total_profit || !with_data) return nullptr;
    Ref metrics = records::SystemMetrics.make(
        {total_profit.get(), total_events.get(), total_wins.get(), win_rate.get(), with_data.get()});
    if (!metrics) return nullptr;
    return records::PerformanceAnalytics
        .make({metrics.get(), best_instance.get(), worst_instance.get(), best_template.get(), by_template.get(),
               all.get()})
        .release();
}

constexpr boundary::Method kHealthReport{
    "get_system_health_report", boundary::Receiver::Self, {},
    "Counts, profit and event totals, the five most profitable instances and the names of all templates and "
    "instances, from one snapshot of the active instances' metadata.",
    get_system_health_report};
constexpr boundary::Method kValidateAll{
    "validate_all_templates", boundary::Receiver::Self, {},
    "Inspect every registered template; a template whose inspection fails gets an \"error\" result and does not "
    "stop the others.",
    validate_all_templates};
constexpr boundary::Method kUsageStatistics{
    "get_template_usage_statistics", boundary::Receiver::Self, {},
    "Active instances per template, the most and least used templates, the average over used templates and the "
    "unused ones.",
    get_template_usage_statistics};
constexpr Param kExportParams[] = {{"include_performance", Kind::Bool, boundary::Default::True}};
constexpr boundary::Method kExport{
    "export_template_configurations", boundary::Receiver::Self, kExportParams,
    "Every registered template and every active instance as one record; with include_performance, each instance "
    "with events carries its performance figures.",
    export_template_configurations};
constexpr boundary::Method kAnalytics{
    "get_performance_analytics", boundary::Receiver::Self, {},
    "System metrics, per-template aggregates, and the best and worst instances and the best template by average "
    "profit per instance, over the active instances with performance data.",
    get_performance_analytics};

}  // namespace

std::span<const boundary::Binding> report_methods() {
    static const boundary::Binding kMethods[] = {
        boundary::bind<kHealthReport>(), boundary::bind<kValidateAll>(), boundary::bind<kUsageStatistics>(),
        boundary::bind<kExport>(), boundary::bind<kAnalytics>()};
    return kMethods;
}

}  // namespace zz::manager
