// The pieces of the report's tables: rows, numbers with as many digits as they
// deserve, a figure repeated over runs as its median with the range, and a
// target's verdict.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bench/figures.h"

namespace tavrel::bench {

// About three significant digits, never in exponent form: 0.173, 5.21, 51.6, 130.
std::string Number(double value);

// The median of `values` with its unit; with more than one value the range
// follows in parentheses: "0.21 ms (0.19–0.25)". "—" for no values.
std::string Figure(const std::vector<double>& values, const std::string& unit);

// "1 output", "9 outputs".
std::string Outputs(int outputs);

// One line of a markdown table.
std::string MarkdownRow(const std::vector<std::string>& cells);

// "every byte", or how many bytes were missing and where the first wrong one came.
std::string DeliveryText(const Delivery& delivery);

// Appends one line "- what: failure" per failure.
void AddFailures(std::string& list, const std::string& what, const std::vector<std::string>& failures);

// "met", "missed", or "not measured" when a figure is missing.
std::string Verdict(std::optional<bool> met);

// Whether `value` is at most / below / at least `bound`; nothing when either is missing.
std::optional<bool> AtMost(std::optional<double> value, std::optional<double> bound);
std::optional<bool> Below(std::optional<double> value, std::optional<double> bound);
std::optional<bool> AtLeast(std::optional<double> value, std::optional<double> bound);

}  // namespace tavrel::bench
