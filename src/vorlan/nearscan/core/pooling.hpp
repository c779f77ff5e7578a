// Sentence embeddings from a transformer's token states (no Python here): the mean of the
// states of a text's real tokens, scaled to unit length, the way the embedding library's
// mean-pooling and normalising modules compute them.
#pragma once
#include <cstddef>
#include <vector>

namespace nearscan {

// hidden holds batch x seq x dim floats (row-major); text b owns its first lengths[b]
// positions and the rest is padding. Returns batch x dim floats: per text the mean over
// its positions (a text of no tokens divides by 1e-9, as the library clamps the count),
// divided by its Euclidean norm (at least 1e-12).
std::vector<float> mean_pooled_unit_rows(const float* hidden, std::size_t batch, std::size_t seq, std::size_t dim,
                                         const std::vector<std::size_t>& lengths);

}  // namespace nearscan
