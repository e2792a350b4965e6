#include "modem/common/lagrange_table.h"

namespace kavra::modem {

LagrangeTable::LagrangeTable() {
    float t = -1.0001f;
    for (int k = 0; k < kRows; ++k) {
        t += 0.01f;
        for (int d = 0; d < kPoints; ++d) {
            float num = 1.0f;
            float den = 1.0f;
            for (int m = 0; m < kPoints; ++m) {
                if (m == d) continue;
                num *= t - static_cast<float>(m - 3);
                den *= static_cast<float>(d - m);
            }
            rows_[static_cast<std::size_t>(k)][static_cast<std::size_t>(d)] = num / den;
        }
    }
}

}  // namespace kavra::modem
