#include <windows.h>

#include "base/utf8.hpp"
#include "scripted_backend_os.hpp"

namespace quern::test_backend {

std::string own_path(const char*) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return base::utf16_to_utf8_lossy(std::u16string(path, path + length));
}

unsigned long own_process_id() { return GetCurrentProcessId(); }

void close_stdin() { CloseHandle(GetStdHandle(STD_INPUT_HANDLE)); }

platform::ChildStdio own_stdio() {
    return {platform::kInvalidHandle, reinterpret_cast<platform::NativeHandle>(GetStdHandle(STD_OUTPUT_HANDLE)),
            reinterpret_cast<platform::NativeHandle>(GetStdHandle(STD_ERROR_HANDLE))};
}

}  // namespace quern::test_backend
