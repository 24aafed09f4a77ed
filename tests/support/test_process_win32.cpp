#include <windows.h>

#include "support/test_process.hpp"

namespace quern::testing {

// Beside the running test binary: under Wine the build tree's paths are not
// the ones the tests see.
platform::OsString runtime_binary() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const platform::OsString own(path, length);
    return own.substr(0, own.find_last_of(L"\\/") + 1) + L"quern-runtime.exe";
}

}  // namespace quern::testing
