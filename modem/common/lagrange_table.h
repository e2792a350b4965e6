// 7-point Lagrange fractional-delay weights, shared by the transmitter's clock-correction
// resampler and the receivers' rate converter.
#pragma once

#include <array>

namespace kavra::modem {

class LagrangeTable {
public:
    static constexpr int kRows = 201;
    static constexpr int kPoints = 7;
    using Row = std::array<float, kPoints>;

    // Row k holds the weights at t_k = -1.0001 + 0.01 (k + 1), nodes at -3..+3, computed in
    // single precision; t is formed by repeated float additions so every station gets the
    // same numbers.
    LagrangeTable();

    const Row& operator[](int row) const { return rows_[static_cast<std::size_t>(row)]; }

private:
    std::array<Row, kRows> rows_{};
};

}  // namespace kavra::modem
