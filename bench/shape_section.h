// The shaping and talk section of relay_compare, Tavrel alone. Shaping cost:
// the same GPS and AIS stream at 38400 baud to 9 virtual ports, once
// transparent and once shaped three ways (3 ports each); the worker's CPU per
// MB of input of the two runs. Talk: 3 ports whose programs talk back in
// lines while the input streams at 38400 baud: a line every 100 ms timed
// from its write to the input, then a flood from one program while the
// other two write now and then.
#pragma once

#include "bench/options.h"
#include "bench/shape_report.h"

namespace tavrel::bench {

ShapeResults MeasureShapeSection(const Options& options);

}  // namespace tavrel::bench
