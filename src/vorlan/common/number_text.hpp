// Numbers in messages and prompts: the shortest text that reads back as the same double.
#pragma once
#include <string>

namespace vorlan::text {

// 7 -> "7", 0.1 -> "0.1", 1e21 -> "1e+21", -0.0 -> "0", infinities "inf" / "-inf", NaN "nan".
std::string number_text(double v);

}  // namespace vorlan::text
