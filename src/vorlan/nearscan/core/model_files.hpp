// Where embedding models and cached embeddings live on disk (no Python here).
#pragma once
#include <string>
#include <string_view>

namespace nearscan {

// The local model hub cache folder: HF_HUB_CACHE, HF_HOME/hub, XDG_CACHE_HOME/huggingface/hub
// or ~/.cache/huggingface/hub; "" when none can be named.
std::string hub_cache_dir();

// Whether the local model hub cache holds a snapshot of the named model.
bool hub_cache_has_model(std::string_view model_name);

// The snapshot folder refs/main names for a hub model; "" when there is none.
std::string hub_snapshot_dir(std::string_view model_name);

// Folder, within a model's snapshot, of its export for the light inference runtime
// (scripts/install_offline_model.py writes it and checks it against the embedding library).
constexpr const char* kLightExportFolder = "vorlan-onnx";

// The export folder of a hub model when it holds the checked export (export.json and
// model.onnx) and the snapshot holds tokenizer.json; "" otherwise.
std::string light_export_dir(std::string_view model_name);

// Whether VORLAN_EMBEDDING_RUNTIME=torch asks for the embedding library (and the tensor
// library) even where the light runtime could encode.
bool embedding_library_forced();

// What identifies the files a model name loads: "local:" and a fingerprint of the
// folder's files (names, sizes, modification times) when the name is a folder on disk;
// otherwise the commit recorded in the hub cache's refs/main; "" when neither is known.
std::string model_revision(std::string_view model_name);

// The user's cache folder of this package: $VORLAN_CACHE_DIR, else $XDG_CACHE_HOME/vorlan
// (an absolute XDG_CACHE_HOME only), else $HOME/.cache/vorlan; "" when none can be named.
std::string vorlan_cache_dir();

// Its "embeddings" folder (the embedding cache) and "trees" folder (the tree indexes);
// "" when the cache folder cannot be named.
std::string embedding_cache_dir();
std::string tree_index_dir();
// Its "locks" folder: the files processes take turns on before encoding for a cache file.
std::string lock_dir();

// Whether VORLAN_EMBEDDING_CACHE switches the cache off ("0", "off", "no" or "false").
bool embedding_cache_disabled();

// The cache file, within `dir`, for one model revision and one example tree.
std::string tree_cache_file(const std::string& dir, std::string_view model, std::string_view revision,
                            std::string_view tree);

// The file, within `dir`, that records an example tree's folders and files between calls
// (tree_index.hpp); the same for every model.
std::string tree_index_file(const std::string& dir, std::string_view tree);

// The shipped file name of a model's embeddings of the bundled examples.
std::string shipped_file_name(std::string_view model);

}  // namespace nearscan
