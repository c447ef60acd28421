// Output files of the renderer: partial names, renames, directories.
#include "ifs/check/output_files.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool IsThereButNotRegular(const std::string& path) {
    std::error_code code;
    const fs::file_status status = fs::status(path, code);
    return !code && fs::exists(status) && !fs::is_regular_file(status);
}

}  // namespace

std::string PartialPath(const std::string& path) { return IsThereButNotRegular(path) ? path : path + ".partial"; }

bool CommitPartial(const std::string& path, std::string* error) {
    if (PartialPath(path) == path) return true;
    std::error_code code;
    fs::rename(PartialPath(path), path, code);
    if (code) {
        *error = "cannot write " + path + ": " + code.message();
        RemoveQuietly(PartialPath(path));
        return false;
    }
    return true;
}

void RemoveQuietly(const std::string& path) {
    std::error_code code;
    if (fs::is_regular_file(fs::symlink_status(path, code))) fs::remove(path, code);
}

bool PrepareOutputDirectory(const std::string& directory, std::vector<std::string>* made, std::string* error) {
    std::error_code code;
    if (!fs::is_directory(directory, code)) {
        // The missing folders, from the deepest up to the first that is there.
        std::vector<fs::path> missing;
        fs::path at = fs::path(directory).lexically_normal();
        if (!at.has_filename()) at = at.parent_path();  // "a/b/" is the folder a/b
        while (!at.empty() && fs::symlink_status(at, code).type() == fs::file_type::not_found) {
            missing.push_back(at);
            if (at.parent_path() == at) break;
            at = at.parent_path();
        }
        code.clear();
        for (auto it = missing.rbegin(); it != missing.rend() && !code; ++it) {
            if (fs::create_directory(*it, code)) made->insert(made->begin(), it->string());
        }
        if (code || !fs::is_directory(directory, code)) {
            *error = "cannot make the directory " + directory + (code ? ": " + code.message() : "");
            RemoveMadeDirectories(made);
            return false;
        }
    }
    // Creating a file is the only reliable test of whether files can be created.
    if (!CanCreateFile((fs::path(directory) / ".lumivex-render-probe.partial").string())) {
        *error = "cannot write in the directory " + directory;
        RemoveMadeDirectories(made);
        return false;
    }
    return true;
}

void RemoveMadeDirectories(std::vector<std::string>* made) {
    for (const std::string& folder : *made) {
        std::error_code code;
        fs::remove(folder, code);  // only an empty directory goes
    }
    made->clear();
}

bool CanCreateFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    std::fclose(file);
    RemoveQuietly(path);
    return true;
}

std::string FramePngPath(const std::string& directory, std::uint32_t number) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%05u.png", number);
    return (std::filesystem::path(directory) / name).string();
}
