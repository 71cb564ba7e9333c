#include "bench/report_cells.h"

#include <algorithm>
#include <cstdio>

#include "bench/percentiles.h"

namespace tavrel::bench {
namespace {

std::optional<bool> Compare(std::optional<double> value, std::optional<double> bound, bool (*holds)(double, double))
{
    if (!value || !bound) {
        return std::nullopt;
    }
    return holds(*value, *bound);
}

}  // namespace

std::string Number(double value)
{
    const double size = value < 0 ? -value : value;
    const int decimals = size >= 100 ? 0 : size >= 10 ? 1 : size >= 1 ? 2 : 3;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Figure(const std::vector<double>& values, const std::string& unit)
{
    const std::optional<double> median = MedianOf(values);
    if (!median) {
        return "—";
    }
    std::string text = Number(*median) + (unit.empty() ? "" : " " + unit);
    if (values.size() > 1) {
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        text += " (" + Number(*low) + "–" + Number(*high) + ")";
    }
    return text;
}

std::string Outputs(int outputs)
{
    return std::to_string(outputs) + (outputs == 1 ? " output" : " outputs");
}

std::string MarkdownRow(const std::vector<std::string>& cells)
{
    std::string line = "|";
    for (const std::string& cell : cells) {
        line += " " + cell + " |";
    }
    return line + "\n";
}

std::string DeliveryText(const Delivery& delivery)
{
    if (delivery.Whole()) {
        return "every byte";
    }
    std::string text = std::to_string(delivery.mostMissing) + " bytes missing";
    if (delivery.firstDifference) {
        text += ", the first wrong at byte " + std::to_string(*delivery.firstDifference);
    }
    return text;
}

void AddFailures(std::string& list, const std::string& what, const std::vector<std::string>& failures)
{
    for (const std::string& failure : failures) {
        list += "- " + what + ": " + failure + "\n";
    }
}

std::string Verdict(std::optional<bool> met)
{
    return !met ? "not measured" : *met ? "met" : "missed";
}

std::optional<bool> AtMost(std::optional<double> value, std::optional<double> bound)
{
    return Compare(value, bound, [](double v, double b) { return v <= b; });
}

std::optional<bool> Below(std::optional<double> value, std::optional<double> bound)
{
    return Compare(value, bound, [](double v, double b) { return v < b; });
}

std::optional<bool> AtLeast(std::optional<double> value, std::optional<double> bound)
{
    return Compare(value, bound, [](double v, double b) { return v >= b; });
}

}  // namespace tavrel::bench
