#include "samples.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace quillon::bench {

void Samples::add(double value) {
    values_.push_back(value);
    dirty_ = true;
}

void Samples::add_all(const Samples& other) {
    values_.insert(values_.end(), other.values_.begin(), other.values_.end());
    dirty_ = true;
}

const std::vector<double>& Samples::sorted() const {
    if (dirty_ || sorted_.size() != values_.size()) {
        sorted_ = values_;
        std::sort(sorted_.begin(), sorted_.end());
        dirty_ = false;
    }
    return sorted_;
}

double Samples::percentile(double p) const {
    const std::vector<double>& v = sorted();
    if (v.empty()) return std::nan("");
    const double rank = std::clamp(p, 0.0, 100.0) / 100.0 * static_cast<double>(v.size() - 1);
    const auto below = static_cast<std::size_t>(std::floor(rank));
    const std::size_t above = std::min(below + 1, v.size() - 1);
    const double fraction = rank - static_cast<double>(below);
    return v[below] + (v[above] - v[below]) * fraction;
}

double Samples::sum() const {
    return std::accumulate(values_.begin(), values_.end(), 0.0);
}

namespace {

std::string number(double value, double scale, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value / scale);
    return text;
}

}  // namespace

std::string Samples::spread(const char* unit, double scale, int decimals) const {
    if (empty()) return "no samples";
    const auto n = [&](double v) { return number(v, scale, decimals); };
    return "median " + n(median()) + " " + unit + "  (p1 " + n(percentile(1)) + ", p99 " +
           n(percentile(99)) + ", min " + n(min()) + ", max " + n(max()) + "; n " +
           std::to_string(size()) + ")";
}

std::string Samples::range(const char* unit, double scale, int decimals) const {
    if (empty()) return "no samples";
    const auto n = [&](double v) { return number(v, scale, decimals); };
    return "median " + n(median()) + " " + unit + "  (range " + n(min()) + " .. " + n(max()) +
           "; n " + std::to_string(size()) + ")";
}

}  // namespace quillon::bench
