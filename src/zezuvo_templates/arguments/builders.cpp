// Argument maps for the built-in flipper templates.  The boundary has already
// converted and tested every value; these only lay the maps out.
#include "frame/boundary.hpp"
#include "frame/subsystems.hpp"

namespace zz::arguments {
namespace {

using boundary::Default;
using boundary::Kind;
using boundary::Param;
using boundary::Receiver;

// Every key is always present: the template's truth tests skip a None.
constexpr Param kAlgoFlipperParams[] = {
    {"algo_symbol", Kind::Str},
    {"watch_symbol", Kind::Str},
    {"trade_symbol", Kind::Str},
    {"evict_symbol", Kind::Str},
    {"timeframe", Kind::Int},
    {"algo", Kind::Str},
    {"qty", Kind::Int},
    {"offset", Kind::FloatOrNone, Default::None},
    {"profit_pts", Kind::IntOrNone, Default::None},
    {"loss_pts", Kind::IntOrNone, Default::None},
    {"flip_sides", Kind::Any, Default::Text, "both"},
};

PyObject* algo_flipper_args(PyObject*, const boundary::Args& a) {
    Ref args = Ref::steal(PyDict_New());
    if (!args) return nullptr;
    for (std::size_t i = 0; i < std::size(kAlgoFlipperParams); ++i) {
        if (PyDict_SetItemString(args.get(), kAlgoFlipperParams[i].name, a[i]) < 0) return nullptr;
    }
    return args.release();
}

// Keys after the fourth are left out when None, so the template's own
// fall-backs (base_timeframe, base_algo, default_qty) apply.
constexpr Param kSymbolConfigParams[] = {
    {"algo_symbol", Kind::Str},
    {"watch_symbol", Kind::Str},
    {"trade_symbol", Kind::Str},
    {"evict_symbol", Kind::Str},
    {"timeframe", Kind::IntOrNone, Default::None},
    {"algo", Kind::StrOrNone, Default::None},
    {"qty", Kind::IntOrNone, Default::None},
};
constexpr std::size_t kAlwaysPresent = 4;

PyObject* symbol_config(PyObject*, const boundary::Args& a) {
    Ref config = Ref::steal(PyDict_New());
    if (!config) return nullptr;
    for (std::size_t i = 0; i < std::size(kSymbolConfigParams); ++i) {
        if (i >= kAlwaysPresent && a.is_none(i)) continue;
        // The template reads the algorithm symbol as the entry's name.
        const char* key = i == 0 ? "name" : kSymbolConfigParams[i].name;
        if (PyDict_SetItemString(config.get(), key, a[i]) < 0) return nullptr;
    }
    return config.release();
}

constexpr boundary::Method kAlgoFlipperArgs{
    "create_template_args_for_algo_flipper", Receiver::None, kAlgoFlipperParams,
    "Build the eleven template arguments of \"algo_flipper.dsl\"; offset, profit_pts and loss_pts left as None "
    "are omitted from the rendered orders.",
    algo_flipper_args};
constexpr boundary::Method kSymbolConfig{
    "create_symbol_config_for_flipper", Receiver::None, kSymbolConfigParams,
    "Build one entry of the symbols list of \"multi_symbol_flipper.dsl\"; timeframe, algo and qty left as None "
    "fall back to the template-wide defaults.",
    symbol_config};

constexpr boundary::Binding kFunctions[] = {boundary::bind<kAlgoFlipperArgs>(), boundary::bind<kSymbolConfig>()};

}  // namespace

bool define_builders(PyObject* namespace_dict, PyObject* module_name) {
    for (const boundary::Binding& b : kFunctions) {
        Ref function = boundary::make_function(b, module_name);
        if (!function || PyDict_SetItemString(namespace_dict, b.method->name, function.get()) < 0) return false;
    }
    return true;
}

}  // namespace zz::arguments
