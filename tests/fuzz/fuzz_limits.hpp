// Limits for fuzzing and for replaying fuzz inputs. The production limits admit instances
// that take seconds to build under the sanitizers, which libFuzzer would report as hangs;
// these still let every limit be reached.
#pragma once
#include "vorlan_core/core/compiler.hpp"

inline void set_fuzz_limits(vorlan::compiler::Limits& l) {
    l.max_variables = 20'000;
    l.max_rows = 20'000;
    l.max_terms = 200'000;
    l.max_cells = 100'000;
    l.max_set_elements = 100'000;
    l.max_steps = 2'000'000;
}
