// Compensated (Neumaier) summation of doubles, shared by the performance
// summaries and every report so that their totals agree to the last bit.
//
// A literal compensated sum turns any infinity into NaN through its
// correction term (inf - inf).  Infinities and overflow are therefore kept
// apart: a sum that meets an infinity is that infinity, and NaN only when
// both signs (or a NaN) occur, as Python's own float sum behaves.
#pragma once
#include <cmath>
#include <limits>

namespace zz {

class NeumaierSum {
public:
    void add(double x) noexcept {
        if (!std::isfinite(x)) {
            if (std::isnan(x)) {
                nan_ = true;
            } else {
                (x > 0 ? pos_inf_ : neg_inf_) = true;
            }
            return;
        }
        const double t = sum_ + x;
        if (!std::isfinite(t)) {  // finite terms overflowed: the plain sum's infinity
            (t > 0 ? pos_inf_ : neg_inf_) = true;
            sum_ = 0.0;
            compensation_ = 0.0;
            return;
        }
        if (std::fabs(sum_) >= std::fabs(x)) {
            compensation_ += (sum_ - t) + x;
        } else {
            compensation_ += (x - t) + sum_;
        }
        sum_ = t;
    }

    double result() const noexcept {
        if (nan_ || (pos_inf_ && neg_inf_)) return std::numeric_limits<double>::quiet_NaN();
        if (pos_inf_) return std::numeric_limits<double>::infinity();
        if (neg_inf_) return -std::numeric_limits<double>::infinity();
        return sum_ + compensation_;
    }

private:
    double sum_ = 0.0;
    double compensation_ = 0.0;
    bool pos_inf_ = false;
    bool neg_inf_ = false;
    bool nan_ = false;
};

}  // namespace zz
