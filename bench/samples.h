#pragma once
// A set of measurements of one quantity and the order statistics the report quotes.
#include <cstddef>
#include <string>
#include <vector>

namespace quillon::bench {

class Samples {
public:
    void add(double value);
    void add_all(const Samples& other);
    std::size_t size() const { return values_.size(); }
    bool empty() const { return values_.empty(); }

    // The p-th percentile, p in [0, 100], by linear interpolation between ranks.
    double percentile(double p) const;
    double median() const { return percentile(50); }
    double min() const { return percentile(0); }
    double max() const { return percentile(100); }
    double sum() const;

    // "median M (p1 A, p99 B, min C, max D, n N)": how the report quotes every figure.
    std::string spread(const char* unit, double scale = 1.0, int decimals = 1) const;
    // "median M, range A..B, n N": for a handful of runs, where percentiles mean nothing.
    std::string range(const char* unit, double scale = 1.0, int decimals = 1) const;

private:
    const std::vector<double>& sorted() const;

    std::vector<double> values_;
    mutable std::vector<double> sorted_;
    mutable bool dirty_ = false;
};

}  // namespace quillon::bench
