#pragma once

#include <string>

namespace quern::json {

// Appends a 64-bit float in the runtime's one notation: the shortest digits that
// read back to the same value; plain notation with at least one digit after the
// point when the decimal exponent lies in [-5, 15] (0.0, 1.5, 100.0, 0.000015),
// otherwise d.ddde+N / d.ddde-N (1e+16, 1.5e-7, 5e-324). Not finite: "null".
void append_float(double value, std::string& out);

}  // namespace quern::json
