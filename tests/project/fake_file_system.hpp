#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/os_string.hpp"
#include "project/resolve_project.hpp"

namespace quern::project {

// A file system of named paths, recording every question asked. A path that
// exists resolves to itself unless a link says otherwise; a path in
// `unresolvable` fails to resolve with the given text.
class FakeFileSystem final : public ProjectFileSystem {
public:
    std::set<platform::OsString> directories;
    std::set<platform::OsString> files;
    std::map<platform::OsString, platform::OsString> links;  // path -> its final path
    std::map<platform::OsString, std::string> unresolvable;  // path -> OS error text
    std::vector<std::string> questions;

    base::Result<platform::OsString> final_path(const platform::OsString& path) override {
        ask("final_path", path);
        if (auto failure = unresolvable.find(path); failure != unresolvable.end()) return base::Failure{failure->second};
        if (auto link = links.find(path); link != links.end()) return link->second;
        if (directories.count(path) != 0 || files.count(path) != 0) return path;
        return base::Failure{"The system cannot find the file specified. (os error 2)"};
    }
    bool is_directory(const platform::OsString& path) override {
        ask("is_directory", path);
        return directories.count(resolved(path)) != 0;
    }
    bool is_file(const platform::OsString& path) override {
        ask("is_file", path);
        return files.count(resolved(path)) != 0;
    }

private:
    platform::OsString resolved(const platform::OsString& path) const {
        auto link = links.find(path);
        return link == links.end() ? path : link->second;
    }
    void ask(const char* question, const platform::OsString& path) {
        questions.push_back(std::string(question) + " " + platform::to_utf8_lossy(path));
    }
};

}  // namespace quern::project
