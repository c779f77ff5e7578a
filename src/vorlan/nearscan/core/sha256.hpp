// SHA-256 of byte strings: the content key of cached embeddings (no Python here).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace nearscan {

using Digest = std::array<uint8_t, 32>;

class Sha256 {
public:
    Sha256();
    void update(std::string_view bytes);
    Digest finish();  // the object must not be updated afterwards

private:
    void block(const uint8_t* p);
    std::array<uint32_t, 8> h_;
    std::array<uint8_t, 64> buf_{};
    std::size_t used_ = 0;
    uint64_t total_ = 0;
};

Digest sha256(std::string_view bytes);

// Lower-case hexadecimal form of the first `bytes` bytes of a digest.
std::string hex(const Digest& d, std::size_t bytes = 32);

}  // namespace nearscan
