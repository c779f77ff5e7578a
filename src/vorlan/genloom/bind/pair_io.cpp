// Writing the model and data pair through temporary files, and reading texts back.
#include "genloom/bind/pair_io.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>

#include "genloom/bind/llm_util.hpp"
#include "genloom/core/pipeline_paths.hpp"

namespace genloom {
namespace {

std::uint64_t next_token() {
    static std::atomic<std::uint64_t> counter{0};
    static const std::uint64_t seed = [] {
        std::random_device rd;
        return (static_cast<std::uint64_t>(rd()) << 32) ^ rd() ^
               static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }();
    return seed ^ (++counter * 0x9E3779B97F4A7C15ULL);
}

void make_parent_dirs(const py::str& path) {
    Utf8 u(path);
    std::string dir = core::dir_part(u.view());
    if (!dir.empty())
        py::module_::import("os").attr("makedirs")(u.make(dir), py::arg("exist_ok") = true);
}

// Write `text` to a new hidden file beside `path` (same directory, so the later rename stays
// on one file system); returns the temporary path. On failure the temporary file is removed.
py::str write_temp(const py::str& path, const py::object& text) {
    py::module_ os = py::module_::import("os");
    Utf8 u(path);
    py::str tmp;
    py::object fd;
    for (int attempt = 0;; ++attempt) {
        tmp = u.make(core::temp_sibling(u.view(), next_token()));
        try {
            int flags = py::cast<int>(os.attr("O_WRONLY")) | py::cast<int>(os.attr("O_CREAT")) |
                        py::cast<int>(os.attr("O_EXCL"));
            fd = os.attr("open")(tmp, flags, 0666);
            break;
        } catch (py::error_already_set& e) {
            if (attempt < 8 && e.matches(PyExc_FileExistsError)) continue;
            throw;
        }
    }
    try {
        // Keep the permissions of a file being replaced, as truncating it in place would.
        if (py::cast<bool>(os.attr("path").attr("exists")(path)))
            os.attr("chmod")(tmp, py::module_::import("stat").attr("S_IMODE")(
                                      os.attr("stat")(path).attr("st_mode")));
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
    }
    py::object f;
    try {
        f = py::module_::import("io").attr("open")(fd, "w");
    } catch (py::error_already_set&) {
        os.attr("close")(fd);
        os.attr("unlink")(tmp);
        throw;
    }
    try {
        f.attr("write")(text);
        f.attr("close")();
    } catch (py::error_already_set&) {
        try {
            f.attr("close")();
        } catch (py::error_already_set&) {
        }
        try {
            os.attr("unlink")(tmp);
        } catch (py::error_already_set&) {
        }
        throw;
    }
    return tmp;
}

}  // namespace

py::str path_text(const py::object& p) { return py::module_::import("os").attr("fsdecode")(p); }

py::object read_text(const py::str& path) {
    py::object f = py::module_::import("io").attr("open")(path);
    try {
        py::object text = f.attr("read")();
        f.attr("close")();
        return text;
    } catch (py::error_already_set&) {
        try {
            f.attr("close")();
        } catch (py::error_already_set&) {
        }
        throw;
    }
}

void write_pair(const py::object& model_file, const py::object& data_file, const py::object& model_code,
                const py::object& data_code) {
    py::module_ os = py::module_::import("os");
    py::str mpath = path_text(model_file), dpath = path_text(data_file);
    make_parent_dirs(mpath);
    make_parent_dirs(dpath);
    py::str mtmp = write_temp(mpath, model_code);
    py::str dtmp;
    try {
        dtmp = write_temp(dpath, data_code);
    } catch (py::error_already_set&) {
        try {
            os.attr("unlink")(mtmp);
        } catch (py::error_already_set&) {
        }
        throw;
    }
    try {
        os.attr("replace")(mtmp, mpath);
    } catch (py::error_already_set&) {
        for (const py::str& t : {mtmp, dtmp}) {
            try {
                os.attr("unlink")(t);
            } catch (py::error_already_set&) {
            }
        }
        throw;
    }
    try {
        os.attr("replace")(dtmp, dpath);
    } catch (py::error_already_set&) {
        try {
            os.attr("unlink")(dtmp);
        } catch (py::error_already_set&) {
        }
        throw;
    }
}

}  // namespace genloom
