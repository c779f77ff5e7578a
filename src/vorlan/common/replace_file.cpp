#include "common/replace_file.hpp"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace vorlan::files {

namespace fs = std::filesystem;

namespace {

fs::path temp_beside(const fs::path& path) {
    static std::mt19937_64 rng(std::random_device{}() ^
                               static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    char token[17];
    std::snprintf(token, sizeof token, "%016llx", static_cast<unsigned long long>(rng()));
    std::string name = ".";
    name += path.filename().string();
    name += '.';
    name += token;
    name += ".tmp";
    return path.parent_path() / name;
}

}  // namespace

void write_replacing(const fs::path& path, const std::function<void(std::ostream&)>& body) {
    const fs::path tmp = temp_beside(path);
    std::error_code ec;
    try {
        {
            std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
            if (!f) throw std::runtime_error("cannot open " + path.string() + " for writing");
            body(f);
            f.flush();
            if (!f) throw std::runtime_error("cannot write " + path.string());
        }
        auto st = fs::status(path, ec);
        if (!ec && fs::exists(st)) fs::permissions(tmp, st.permissions(), ec);
        fs::rename(tmp, path, ec);
        if (ec) throw std::runtime_error("cannot write " + path.string() + ": " + ec.message());
    } catch (...) {
        fs::remove(tmp, ec);
        throw;
    }
}

}  // namespace vorlan::files
