#include <gtest/gtest.h>

#include "platform/path.hpp"
#include "project/resolve_project.hpp"
#include "fake_file_system.hpp"

namespace quern::project {
namespace {

using platform::OsString;
using platform::os_string_from_utf8;

// The layout in this platform's spelling; the fake file system has no links
// unless a test adds them.
#ifdef _WIN32
const char* const kArgument = "C:/work/proj/";
const char* const kProjectDir = "\\\\?\\C:\\work\\proj";
const char* const kOutside = "\\\\?\\C:\\work\\elsewhere";
const std::vector<std::string> kInterpreter = {".venv", "Scripts", "python.exe"};
#else
const char* const kArgument = "/data//proj/";
const char* const kProjectDir = "/data/proj";
const char* const kOutside = "/data/elsewhere";
const std::vector<std::string> kInterpreter = {".venv", "bin", "python"};
#endif
const std::vector<std::string> kBackendScript = {"quern", "gui_backend.py"};
const std::string kOsError = "Access is denied. (os error 5)";

OsString under(const std::string& base, const std::vector<std::string>& components, std::size_t count) {
    OsString path = os_string_from_utf8(base);
    for (std::size_t i = 0; i < count; ++i) path = platform::join_path(path, os_string_from_utf8(components[i]));
    return path;
}

OsString under(const std::string& base, const std::vector<std::string>& components) {
    return under(base, components, components.size());
}

// Every prefix of the item's components is a directory, the item itself a file.
void add_item(FakeFileSystem& files, const std::vector<std::string>& components) {
    for (std::size_t count = 1; count < components.size(); ++count) {
        files.directories.insert(under(kProjectDir, components, count));
    }
    files.files.insert(under(kProjectDir, components));
}

// The argument resolves to the project directory, which holds the whole layout.
FakeFileSystem complete_project() {
    FakeFileSystem files;
    files.links[os_string_from_utf8(kArgument)] = os_string_from_utf8(kProjectDir);
    files.directories.insert(os_string_from_utf8(kProjectDir));
    add_item(files, kInterpreter);
    add_item(files, kBackendScript);
    return files;
}

// The item and the directory holding it both lead to target (so the interpreter
// is moved whether its own final path or its directory's is asked for).
void link_item(FakeFileSystem& files, const std::vector<std::string>& item, const std::string& target) {
    files.files.insert(under(target, item));
    files.directories.insert(under(target, item, item.size() - 1));
    files.links[under(kProjectDir, item)] = under(target, item);
    files.links[under(kProjectDir, item, item.size() - 1)] = under(target, item, item.size() - 1);
}

std::string resolve_error(const char* argument, FakeFileSystem& files) {
    base::Result<ResolvedProject> resolved = resolve_project(os_string_from_utf8(argument), files);
    return resolved.ok() ? "resolved" : resolved.error();
}

std::string shown(const std::vector<std::string>& item) { return platform::to_utf8_lossy(under(kProjectDir, item)); }

TEST(ResolveProject, ACompleteProjectGivesItsFinalPathAndTheJoinedInterpreter) {
    FakeFileSystem files = complete_project();
    base::Result<ResolvedProject> resolved = resolve_project(os_string_from_utf8(kArgument), files);
    ASSERT_TRUE(resolved.ok()) << resolved.error();
    EXPECT_EQ(resolved.value().project_dir, os_string_from_utf8(kProjectDir));
    EXPECT_EQ(resolved.value().python_path, under(kProjectDir, kInterpreter));
}

TEST(ResolveProject, ArgumentsThatAreNotAbsoluteTouchNothing) {
    for (const char* argument : {"", "proj", "./proj", "C:proj", "\\proj"}) {
        FakeFileSystem files = complete_project();
        EXPECT_EQ(resolve_error(argument, files), "--project must be an absolute directory path") << argument;
        EXPECT_TRUE(files.questions.empty()) << argument;
    }
}

TEST(ResolveProject, AnUnresolvableProjectDirectoryCarriesTheOsError) {
    FakeFileSystem files = complete_project();
    files.unresolvable[os_string_from_utf8(kArgument)] = kOsError;
    EXPECT_EQ(resolve_error(kArgument, files), "Cannot access project directory: " + kOsError);
}

TEST(ResolveProject, TheProjectMustBeADirectory) {
    FakeFileSystem files = complete_project();
    files.directories.erase(os_string_from_utf8(kProjectDir));
    files.files.insert(os_string_from_utf8(kProjectDir));
    EXPECT_EQ(resolve_error(kArgument, files), "--project must point to a directory");
}

TEST(ResolveProject, MissingItemsShowTheirJoinedPath) {
    FakeFileSystem no_interpreter = complete_project();
    no_interpreter.files.erase(under(kProjectDir, kInterpreter));
    EXPECT_EQ(resolve_error(kArgument, no_interpreter), "Missing project Python: " + shown(kInterpreter));
    FakeFileSystem no_script = complete_project();
    no_script.files.erase(under(kProjectDir, kBackendScript));
    EXPECT_EQ(resolve_error(kArgument, no_script), "Missing GUI backend: " + shown(kBackendScript));
}

TEST(ResolveProject, TheInterpreterIsExaminedBeforeTheBackendScript) {
    FakeFileSystem files = complete_project();
    files.files.erase(under(kProjectDir, kInterpreter));
    files.files.erase(under(kProjectDir, kBackendScript));
    EXPECT_EQ(resolve_error(kArgument, files), "Missing project Python: " + shown(kInterpreter));
}

TEST(ResolveProject, AnItemThatCannotBeResolvedCarriesTheOsError) {
    FakeFileSystem interpreter = complete_project();
    interpreter.unresolvable[under(kProjectDir, kInterpreter)] = kOsError;
    interpreter.unresolvable[under(kProjectDir, kInterpreter, kInterpreter.size() - 1)] = kOsError;
    EXPECT_EQ(resolve_error(kArgument, interpreter), "Cannot resolve project Python: " + kOsError);
    FakeFileSystem script = complete_project();
    script.unresolvable[under(kProjectDir, kBackendScript)] = kOsError;
    EXPECT_EQ(resolve_error(kArgument, script), "Cannot resolve GUI backend: " + kOsError);
}

TEST(ResolveProject, ItemsResolvingOutsideTheProjectAreRefused) {
    FakeFileSystem interpreter = complete_project();
    link_item(interpreter, kInterpreter, kOutside);
    EXPECT_EQ(resolve_error(kArgument, interpreter), "project Python must resolve inside the selected project");
    FakeFileSystem script = complete_project();
    link_item(script, kBackendScript, kOutside);
    EXPECT_EQ(resolve_error(kArgument, script), "GUI backend must resolve inside the selected project");
}

TEST(ResolveProject, ASiblingWhoseNameStartsWithTheProjectsIsOutside) {
    FakeFileSystem files = complete_project();
    link_item(files, kBackendScript, std::string(kProjectDir) + "-old");
    EXPECT_EQ(resolve_error(kArgument, files), "GUI backend must resolve inside the selected project");
}

TEST(ResolveProject, LinksThatStayInsideTheProjectAreAccepted) {
    FakeFileSystem files = complete_project();
    const OsString real_script = under(kProjectDir, {"src", "gui_backend.py"});
    files.files.insert(real_script);
    files.files.erase(under(kProjectDir, kBackendScript));
    files.links[under(kProjectDir, kBackendScript)] = real_script;
    base::Result<ResolvedProject> resolved = resolve_project(os_string_from_utf8(kArgument), files);
    EXPECT_TRUE(resolved.ok()) << resolved.error();
}

}  // namespace
}  // namespace quern::project
