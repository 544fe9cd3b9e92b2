#pragma once
// The machine-readable line each benchmark prints per figure, next to its own report, and
// that bench/run gathers into one table:
//   FIGURE <TAB> label <TAB> value <TAB> unit <TAB> anchor <TAB> ratio <TAB> goal
// "-" stands for a field that does not apply. The goal is an operator and a bound ("< 0.5",
// ">= 0.5", "= 0"), checked against the ratio when there is one, else against the value.
#include <cmath>
#include <cstdio>

constexpr double No_Anchor = NAN;

// The ratio is value / anchor unless the bench passes a better-founded one.
inline void print_figure(const char* label, double value, const char* unit, double anchor,
                         const char* goal, int decimals = 1, double ratio = NAN) {
    const auto field = [](double x, int places, const char* end) {
        if (std::isnan(x))
            std::printf("-%s", end);
        else
            std::printf("%.*f%s", places, x, end);
    };
    if (std::isnan(ratio) && !std::isnan(anchor) && anchor != 0) ratio = value / anchor;
    std::printf("FIGURE\t%s\t", label);
    field(value, decimals, "\t");
    std::printf("%s\t", unit);
    field(anchor, decimals, "\t");
    field(ratio, 4, "\t");
    std::printf("%s\n", goal);
    std::fflush(stdout);
}
