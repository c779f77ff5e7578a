#include "nearscan/core/model_files.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "nearscan/core/sha256.hpp"

namespace nearscan {

namespace {
std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string hub_folder(std::string_view model_name) {
    std::string folder = "models--";
    for (char c : model_name) {
        if (c == '/') folder += "--";
        else folder += c;
    }
    return hub_cache_dir() + "/" + folder;
}

// The commit refs/main names, when it is a plain name.
std::string hub_commit(std::string_view model_name) {
    if (hub_cache_dir().empty() || model_name.empty()) return {};
    std::ifstream ref(hub_folder(model_name) + "/refs/main");
    std::string commit;
    if (!(ref >> commit) || commit.find('/') != std::string::npos || commit.find("..") != std::string::npos) return {};
    return commit;
}

bool is_file(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string lower_env(const char* name) {
    std::string v = env(name);
    std::transform(v.begin(), v.end(), v.begin(), [](unsigned char c) { return std::tolower(c); });
    return v;
}

bool is_dir(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string folder_fingerprint(const std::string& dir) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return {};
    std::vector<std::string> lines;
    while (dirent* e = ::readdir(d)) {
        std::string name(e->d_name);
        struct stat st {};
        if (::stat((dir + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        lines.push_back(name + "\t" + std::to_string(st.st_size) + "\t" + std::to_string(st.st_mtim.tv_sec) + "." +
                        std::to_string(st.st_mtim.tv_nsec) + "\n");
    }
    ::closedir(d);
    std::sort(lines.begin(), lines.end());
    Sha256 h;
    for (const auto& l : lines) h.update(l);
    return "local:" + hex(h.finish(), 16);
}
}  // namespace

std::string hub_cache_dir() {
    if (auto v = env("HF_HUB_CACHE"); !v.empty()) return v;
    if (auto v = env("HF_HOME"); !v.empty()) return v + "/hub";
    if (auto v = env("XDG_CACHE_HOME"); !v.empty()) return v + "/huggingface/hub";
    if (auto v = env("HOME"); !v.empty()) return v + "/.cache/huggingface/hub";
    return {};
}

std::string hub_snapshot_dir(std::string_view model_name) {
    std::string commit = hub_commit(model_name);
    return commit.empty() ? commit : hub_folder(model_name) + "/snapshots/" + commit;
}

bool hub_cache_has_model(std::string_view model_name) {
    std::string snap = hub_snapshot_dir(model_name);
    return !snap.empty() && (is_file(snap + "/modules.json") || is_file(snap + "/config.json"));
}

std::string light_export_dir(std::string_view model_name) {
    std::string snap = hub_snapshot_dir(model_name);
    if (snap.empty()) return {};
    std::string dir = snap + "/" + kLightExportFolder;
    bool complete = is_file(dir + "/export.json") && is_file(dir + "/model.onnx") && is_file(snap + "/tokenizer.json");
    return complete ? dir : std::string();
}

bool embedding_library_forced() { return lower_env("VORLAN_EMBEDDING_RUNTIME") == "torch"; }

std::string model_revision(std::string_view model_name) {
    std::string name(model_name);
    if (!name.empty() && is_dir(name)) return folder_fingerprint(name);
    return hub_commit(model_name);
}

std::string vorlan_cache_dir() {
    if (auto v = env("VORLAN_CACHE_DIR"); !v.empty()) return v;
    if (auto v = env("XDG_CACHE_HOME"); !v.empty() && v[0] == '/') return v + "/vorlan";
    if (auto v = env("HOME"); !v.empty()) return v + "/.cache/vorlan";
    return {};
}

std::string embedding_cache_dir() {
    std::string root = vorlan_cache_dir();
    return root.empty() ? root : root + "/embeddings";
}

std::string tree_index_dir() {
    std::string root = vorlan_cache_dir();
    return root.empty() ? root : root + "/trees";
}

std::string lock_dir() {
    std::string root = vorlan_cache_dir();
    return root.empty() ? root : root + "/locks";
}

bool embedding_cache_disabled() {
    std::string v = lower_env("VORLAN_EMBEDDING_CACHE");
    return v == "0" || v == "off" || v == "no" || v == "false";
}

std::string tree_cache_file(const std::string& dir, std::string_view model, std::string_view revision,
                            std::string_view tree) {
    Sha256 h;
    for (std::string_view part : {model, revision, tree}) {
        h.update(part);
        h.update(std::string_view("\0", 1));
    }
    return dir + "/" + hex(h.finish(), 16) + ".emb";
}

std::string tree_index_file(const std::string& dir, std::string_view tree) {
    Sha256 h;
    h.update(std::string_view("tree-index\0", 11));
    h.update(tree);
    return dir + "/" + hex(h.finish(), 16) + ".idx";
}

std::string shipped_file_name(std::string_view model) {
    std::string out;
    for (char c : model) out += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ? c : '_';
    return out + ".emb";
}

}  // namespace nearscan
