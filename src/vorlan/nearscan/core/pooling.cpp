#include "nearscan/core/pooling.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace nearscan {

std::vector<float> mean_pooled_unit_rows(const float* hidden, std::size_t batch, std::size_t seq, std::size_t dim,
                                         const std::vector<std::size_t>& lengths) {
    if (lengths.size() != batch) throw std::invalid_argument("one length per text is needed");
    std::vector<float> out(batch * dim);
    std::vector<double> sum(dim);
    for (std::size_t b = 0; b < batch; ++b) {
        const std::size_t len = std::min(lengths[b], seq);
        std::fill(sum.begin(), sum.end(), 0.0);
        const float* states = hidden + b * seq * dim;
        for (std::size_t t = 0; t < len; ++t)
            for (std::size_t i = 0; i < dim; ++i) sum[i] += states[t * dim + i];
        const double count = std::max(static_cast<double>(len), 1e-9);
        double norm2 = 0;
        for (std::size_t i = 0; i < dim; ++i) {
            sum[i] /= count;
            norm2 += sum[i] * sum[i];
        }
        const double norm = std::max(std::sqrt(norm2), 1e-12);
        for (std::size_t i = 0; i < dim; ++i) out[b * dim + i] = static_cast<float>(sum[i] / norm);
    }
    return out;
}

}  // namespace nearscan
