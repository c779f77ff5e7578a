// Few-shot gathering: ranks stored descriptions through rag_rank, pairs each hit with
// the model and data files beside it and reads the three texts. Best effort: failures
// only mean fewer examples.
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "common/quote.hpp"
#include "common/host.hpp"
#include "genloom/bind/registry.hpp"
#include "genloom/core/fewshot.hpp"

namespace genloom {
using vorlan::host::utf8_of;
using vorlan::host::str_of;
using vorlan::host::require_str;
using vorlan::host::fs_bytes;
using vorlan::host::fs_str;
using vorlan::host::clamp_size;
using vorlan::host::path_object;
using vorlan::host::type_name;

namespace {
namespace fs = genloom::fewshot;

void require_int(py::handle v, const char* name) {
    if (!PyLong_Check(v.ptr()))
        throw py::type_error(std::string(name) + " must be int, not " + type_name(v));
}

py::str safe_read_text(py::object path, py::object max_chars) {
    require_int(max_chars, "max_chars");
    std::string fs_path;
    try {
        fs_path = fs_bytes(path);
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
        return py::str("");
    }
    std::size_t cap = clamp_size(max_chars);
    std::string text;
    {
        py::gil_scoped_release unlocked;
        text = fs::safe_read_text(fs_path, cap);
    }
    return str_of(text);
}

py::tuple find_pair_in_folder(py::object desc_path) {
    py::object p = path_object(desc_path);
    py::object folder = p.attr("parent");
    std::string stem = fs_bytes(p.attr("stem"));
    std::string folder_fs = fs_bytes(folder);
    fs::PairNames names;
    {
        py::gil_scoped_release unlocked;
        names = fs::find_pair_names(folder_fs, stem);
    }
    auto child = [&](const std::optional<std::string>& name) -> py::object {
        if (!name) return py::none();
        return folder.attr("__truediv__")(fs_str(*name));
    };
    return py::make_tuple(child(names.model), child(names.data));
}

py::str error_text(const py::error_already_set& e) { return py::str(e.value()); }

py::list gather_few_shots(py::object problem_description, py::object k, py::object models_dir,
                          py::object progress) {
    require_str(problem_description, "problem_description");
    require_int(k, "k");
    py::list examples;
    py::object hits;
    try {
        notify(progress, "Retrieving few-shot examples (k=" + utf8_of(py::str(k)) + ")");
        hits = G("rag_rank")(py::arg("query") = problem_description, py::arg("models_dir") = models_dir,
                             py::arg("top_k") = k);
        std::vector<std::string> names;
        for (py::handle hit : hits) {
            // A hit without a usable "path" is left out here and skipped below.
            try {
                names.push_back(utf8_of(py::str(path_object(hit[py::str("path")]).attr("name"))));
            } catch (py::error_already_set& e) {
                if (!is_ordinary(e)) throw;
            }
        }
        notify(progress, "Found " + std::to_string(py::len(hits)) + " few-shot candidates: " +
                             vorlan::text::list_text(names));
    } catch (py::error_already_set& e) {
        if (!is_ordinary(e)) throw;
        G("logger").attr("debug")(py::str("Few-shot retrieval skipped: ") + error_text(e));
        notify(progress, "Few-shot retrieval failed; continuing without examples");
        return py::list();
    }
    for (py::handle hit : hits) {
        try {
            py::object desc_path = path_object(hit[py::str("path")]);
            py::object desc_text = G("_safe_read_text")(desc_path);
            py::tuple pair = G("_find_pair_in_folder")(desc_path);
            py::object mod_path = pair[0], dat_path = pair[1];
            if (!py::bool_(desc_text) || mod_path.is_none() || dat_path.is_none()) continue;
            py::object mod_text = G("_safe_read_text")(mod_path);
            py::object dat_text = G("_safe_read_text")(dat_path);
            if (!py::bool_(mod_text) || !py::bool_(dat_text)) continue;
            py::dict ex;
            ex["description"] = desc_text;
            ex["model"] = mod_text;
            ex["data"] = dat_text;
            ex["desc_path"] = py::str(desc_path);
            ex["model_path"] = py::str(mod_path);
            ex["data_path"] = py::str(dat_path);
            examples.append(ex);
            // The test follows the append, so k <= 0 still stops after one example.
            int full = PyObject_RichCompareBool(py::int_(py::len(examples)).ptr(), k.ptr(), Py_GE);
            if (full < 0) throw py::error_already_set();
            if (full) break;
        } catch (py::error_already_set& e) {
            if (!is_ordinary(e)) throw;
            G("logger").attr("debug")(py::str("Skipping example due to error: ") + error_text(e));
        }
    }
    return examples;
}
}  // namespace

void register_fewshot(py::module_& m) {
    m.def("_safe_read_text", &safe_read_text, py::arg("path"), py::arg("max_chars") = m.attr("FEW_SHOT_MAX_CHARS"),
          "File text (undecodable bytes dropped), cut to max_chars characters, stripped; \"\" when unreadable.");
    m.def("_find_pair_in_folder", &find_pair_in_folder, py::arg("desc_path"),
          "(model path, data path) beside a description file; either may be None.");
    m.def("_gather_few_shots", &gather_few_shots, py::arg("problem_description"),
          py::arg("k") = m.attr("FEW_SHOT_TOP_K"), py::arg("models_dir") = py::none(),
          py::arg("progress") = py::none(),
          "Up to k solved examples similar to the problem, most similar first; [] on any retrieval failure.");
}

}  // namespace genloom
