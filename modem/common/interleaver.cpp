#include "modem/common/interleaver.h"

#include <stdexcept>

namespace kavra::modem {

namespace {

int InverseModulo(int a, int n) {
    for (int x = 1; x < n; ++x)
        if ((a * x) % n == 1) return x;
    throw std::invalid_argument("interleaver row step has no inverse");
}

}  // namespace

void BuildFetchOrder(const InterleaverGeometry& g, std::span<std::uint16_t> order) {
    if (g.rows <= 0 || g.columns <= 0 || order.size() < static_cast<std::size_t>(g.size()) || g.size() > 65536)
        throw std::invalid_argument("bad interleaver geometry");
    // Loaded bit i of column c sits in row (i * row_step) mod rows; invert that to find i.
    const int inverse_step = g.rows == 1 ? 0 : InverseModulo(g.row_step % g.rows, g.rows);
    std::size_t f = 0;
    for (int pass = 0; pass < g.columns; ++pass) {
        int column = pass;
        for (int row = 0; row < g.rows; ++row) {
            const int i = (row * inverse_step) % g.rows;
            order[f++] = static_cast<std::uint16_t>(column * g.rows + i);
            column = ((column - g.column_step) % g.columns + g.columns) % g.columns;
        }
    }
}

FetchOrderTable::FetchOrderTable() {
    int total = 0;
    for (int m = 0; m < kModeCount; ++m) {
        offsets_[m] = total;
        total += ModeInfo(m).rows * ModeInfo(m).columns;
    }
    offsets_[kModeCount] = total;
    storage_.resize(static_cast<std::size_t>(total));
    for (int m = 0; m < kModeCount; ++m) {
        const auto g = InterleaverGeometry::ForMode(m);
        if (g.size() > 0)
            BuildFetchOrder(g, std::span(storage_).subspan(static_cast<std::size_t>(offsets_[m]),
                                                           static_cast<std::size_t>(g.size())));
    }
}

std::span<const std::uint16_t> FetchOrderTable::ForMode(int mode) const {
    if (!IsValidMode(mode)) return {};
    return std::span<const std::uint16_t>(storage_).subspan(
        static_cast<std::size_t>(offsets_[mode]), static_cast<std::size_t>(offsets_[mode + 1] - offsets_[mode]));
}

}  // namespace kavra::modem
