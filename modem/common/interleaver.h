// Block interleaver geometry.  The transmitter loads coded bits column by column and fetches
// them row by row along a diagonal; the decoder undoes the same permutation.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "modem/common/mode_table.h"

namespace kavra::modem {

struct InterleaverGeometry {
    int rows;
    int columns;
    int row_step;     // rows advanced between consecutive loaded bits
    int column_step;  // columns moved back between consecutive fetched bits

    int size() const { return rows * columns; }
    static InterleaverGeometry ForMode(int mode) {
        const DataModeInfo& m = ModeInfo(mode);
        return {m.rows, m.columns, m.row_step, m.column_step};
    }
};

// order[f] = position, in load (coding) order, of the bit fetched at position f.
// `order` must hold geometry.size() entries.
void BuildFetchOrder(const InterleaverGeometry& geometry, std::span<std::uint16_t> order);

// The fetch order of each mode with an interleaver, built once.
class FetchOrderTable {
public:
    FetchOrderTable();
    // Empty for mode 12 (no interleaver).
    std::span<const std::uint16_t> ForMode(int mode) const;

private:
    std::vector<std::uint16_t> storage_;
    int offsets_[kModeCount + 1] = {};
};

}  // namespace kavra::modem
