#pragma once

namespace TamlibTest {

// I0 from its power series sum((x/2)^k / k!)^2, independent of the library's Bessel function.
inline double besselI0(double x) {
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k < 500 && term > 1e-17 * sum; ++k) {
        const double factor = x / (2.0 * k);
        term *= factor * factor;
        sum += term;
    }
    return sum;
}

}  // namespace TamlibTest
