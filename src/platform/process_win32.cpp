#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include <utility>

#include "platform/process.hpp"
#include "platform/win32/units.hpp"
#include "platform/windows_rules/command_line.hpp"
#include "platform/windows_rules/environment_block.hpp"
#include "platform/windows_rules/path.hpp"

namespace quern::platform {

namespace {

constexpr DWORD kChildPipeQuota = 65536;

HANDLE win32_handle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

NativeHandle native_handle(HANDLE handle) { return reinterpret_cast<NativeHandle>(handle); }

std::wstring command_line_of(const ProcessStart& start) {
    std::vector<std::u16string> arguments;
    for (const OsString& argument : start.arguments) arguments.push_back(to_utf16(argument));
    return from_utf16(windows::child_command_line(to_utf16(start.program), arguments));
}

std::wstring environment_block_of(const std::vector<OsString>& environment) {
    std::vector<std::u16string> entries;
    for (const OsString& entry : environment) entries.push_back(to_utf16(entry));
    return from_utf16(windows::make_environment_block(entries));
}

// The null device as an inheritable handle, for streams the child is given none of.
base::Result<OwnedHandle> open_null_device() {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE handle = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return base::Failure{os_error_text(GetLastError())};
    return OwnedHandle(native_handle(handle));
}

// Fills the three standard handles, opening the null device for any not given.
base::Status set_standard_handles(const ChildStdio& stdio, OwnedHandle& null_device, STARTUPINFOW& startup) {
    HANDLE* targets[3] = {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError};
    const NativeHandle given[3] = {stdio.input, stdio.output, stdio.error};
    for (int i = 0; i < 3; ++i) {
        if (given[i] == kInvalidHandle && !null_device.valid()) {
            base::Result<OwnedHandle> opened = open_null_device();
            if (!opened) return base::Failure{opened.error()};
            null_device = std::move(opened.value());
        }
        *targets[i] = win32_handle(given[i] == kInvalidHandle ? null_device.native() : given[i]);
    }
    return {};
}

// SystemRoot as it is set, empty included; nullopt when it does not exist.
std::optional<std::u16string> system_root() {
    SetLastError(ERROR_SUCCESS);
    DWORD needed = GetEnvironmentVariableW(L"SystemRoot", nullptr, 0);
    if (needed == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::u16string();
    }
    std::wstring value(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"SystemRoot", value.data(), needed);
    value.resize(length < needed ? length : 0);
    return to_utf16(value);
}

// kInvalidHandle is also the pseudo-handle of the runtime's own process, so an
// empty object must never reach a process call.
constexpr ExitPoll kNoChild{ExitPoll::State::Failed, 0, ERROR_INVALID_HANDLE};

}  // namespace

// The process and main-thread HANDLEs from CreateProcessW; a bound tree's job
// object. Closed on release, the job terminated first.
struct ChildProcess::Native {
    OwnedHandle process;
    OwnedHandle thread;
    OwnedHandle job;
    std::string tree_failure;
    std::optional<std::uint32_t> exit_code;
};

void ChildProcess::Release::operator()(Native* native) const noexcept {
    if (native->job.valid()) TerminateJobObject(win32_handle(native->job.native()), 1);
    delete native;
}

ProcessId ChildProcess::process_id() const {
    return valid() ? GetProcessId(win32_handle(native_->process.native())) : 0;
}

// Windows hands a process's id to no other while a handle to it is open.
bool ChildProcess::gone() const { return false; }

bool ChildProcess::tree_bound() const { return valid() && native_->job.valid(); }

const std::string& ChildProcess::tree_binding_failure() const {
    static const std::string none;
    return valid() ? native_->tree_failure : none;
}

ExitPoll ChildProcess::poll_exit() {
    if (!valid()) return kNoChild;
    if (native_->exit_code) return {ExitPoll::State::Exited, *native_->exit_code, 0};
    const HANDLE process = win32_handle(native_->process.native());
    const DWORD waited = WaitForSingleObject(process, 0);
    if (waited == WAIT_TIMEOUT) return {};
    if (waited != WAIT_OBJECT_0) return {ExitPoll::State::Failed, 0, GetLastError()};
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code)) return {ExitPoll::State::Failed, 0, GetLastError()};
    native_->exit_code = code;
    return {ExitPoll::State::Exited, code, 0};
}

ExitPoll ChildProcess::wait_for_exit() {
    if (!valid()) return kNoChild;
    if (!native_->exit_code && WaitForSingleObject(win32_handle(native_->process.native()), INFINITE) != WAIT_OBJECT_0) {
        return {ExitPoll::State::Failed, 0, GetLastError()};
    }
    return poll_exit();
}

// A handle of its own to the process.
ExitWatch::ExitWatch(const ChildProcess& child) {
    HANDLE own = nullptr;
    if (child.valid() && DuplicateHandle(GetCurrentProcess(), win32_handle(child.native_->process.native()),
                                         GetCurrentProcess(), &own, SYNCHRONIZE, FALSE, 0)) {
        process_ = native_handle(own);
    }
}

ExitWatch::~ExitWatch() {
    if (process_ != kInvalidHandle) CloseHandle(win32_handle(process_));
}

void ExitWatch::wait() const {
    if (process_ != kInvalidHandle) (void)WaitForSingleObject(win32_handle(process_), INFINITE);
}

void ChildProcess::terminate_process() {
    if (valid() && !native_->exit_code) TerminateProcess(win32_handle(native_->process.native()), 1);
}

// TerminateJobObject, then the job is closed.
void ChildProcess::end_tree() {
    if (!tree_bound()) return;
    TerminateJobObject(win32_handle(native_->job.native()), 1);
    native_->job.close();
}

namespace {

// The list of the only handles a child inherits: its three standard handles,
// each once. Without it, CreateProcessW with inheritance on hands the child
// every inheritable handle of the runtime, including any a front end passed
// down, and the child's whole tree would hold them.
class InheritedHandles {
public:
    explicit InheritedHandles(const STARTUPINFOW& startup) {
        for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
            bool seen = false;
            for (std::size_t i = 0; i < count_; ++i) seen = seen || handles_[i] == handle;
            if (!seen) handles_[count_++] = handle;
        }
    }
    ~InheritedHandles() {
        if (initialized_) DeleteProcThreadAttributeList(list());
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;

    base::Status attach(STARTUPINFOEXW& startup) {
        SIZE_T size = 0;
        (void)InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        if (!InitializeProcThreadAttributeList(list(), 1, 0, &size)) return base::Failure{os_error_text(GetLastError())};
        initialized_ = true;
        if (!UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_,
                                       count_ * sizeof(HANDLE), nullptr, nullptr)) {
            return base::Failure{os_error_text(GetLastError())};
        }
        startup.lpAttributeList = list();
        return {};
    }

private:
    LPPROC_THREAD_ATTRIBUTE_LIST list() { return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data()); }

    HANDLE handles_[3] = {};
    std::size_t count_ = 0;
    std::vector<char> storage_;
    bool initialized_ = false;
};

// A job that the system ends, with every process in it, once its last handle
// is closed: the runtime holds the only one, and the system closes it when the
// runtime ends, however it ends. Not inheritable, so no child holds it open.
// A process may still leave it on purpose (CREATE_BREAKAWAY_FROM_JOB).
base::Result<OwnedHandle> create_tree_job() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) return base::Failure{os_error_text(GetLastError())};
    OwnedHandle owned(native_handle(job));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        return base::Failure{os_error_text(GetLastError())};
    }
    return owned;
}

// Puts the suspended child in the job before it runs anything, then lets it
// run. A job the runtime itself runs in may refuse (one that nests no other,
// as with UI limits, or Windows before 8): the child then runs unbound, as a
// child always did, and the binding says why. Failure: the child could not be
// resumed; it has been ended.
base::Status bind_and_resume(const PROCESS_INFORMATION& started, OwnedHandle job, ChildProcess::Native& child) {
    if (!AssignProcessToJobObject(win32_handle(job.native()), started.hProcess)) {
        child.tree_failure = os_error_text(GetLastError());
        job.close();
    }
    if (ResumeThread(started.hThread) == static_cast<DWORD>(-1)) {
        const DWORD error = GetLastError();
        TerminateProcess(started.hProcess, 1);
        return base::Failure{os_error_text(error)};
    }
    child.job = std::move(job);
    return {};
}

}  // namespace

// CreateProcessW with the program as the application name, the program in
// quotes and the quoted arguments as the command line, handle inheritance on,
// CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT and STARTF_USESTDHANDLES (the
// child's handles must be inheritable; create_child_stdio_pipe makes them so);
// the environment block wants CreateProcessW's order; new_process_group is not
// used. A bound tree: a job object of the runtime's alone, not inheritable,
// with JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE and JOB_OBJECT_LIMIT_BREAKAWAY_OK;
// the child is created suspended and resumed once it is in the job.
base::Result<ChildProcess> start_child_process(const ProcessStart& start) {
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    OwnedHandle null_device;
    if (base::Status handles = set_standard_handles(start.stdio, null_device, startup.StartupInfo); !handles) {
        return base::Failure{handles.error()};
    }
    InheritedHandles inherited(startup.StartupInfo);
    if (base::Status attached = inherited.attach(startup); !attached) return base::Failure{attached.error()};
    std::wstring command_line = command_line_of(start);
    std::wstring environment;
    if (start.environment) environment = environment_block_of(*start.environment);
    ChildProcess::NativePtr child(new ChildProcess::Native);
    OwnedHandle job;
    if (start.bind_tree) {
        base::Result<OwnedHandle> made = create_tree_job();
        if (made.ok()) job = std::move(made).value();
        else child->tree_failure = made.error();
    }
    DWORD flags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT;
    if (job.valid()) flags |= CREATE_SUSPENDED;
    PROCESS_INFORMATION started{};
    const BOOL ok = CreateProcessW(start.program.c_str(), command_line.data(), nullptr, nullptr, TRUE, flags,
                                   start.environment ? environment.data() : nullptr,
                                   start.working_directory ? start.working_directory->c_str() : nullptr,
                                   &startup.StartupInfo, &started);
    if (!ok) return base::Failure{os_error_text(GetLastError())};
    child->process = OwnedHandle(native_handle(started.hProcess));
    child->thread = OwnedHandle(native_handle(started.hThread));
    if (job.valid()) {
        if (base::Status resumed = bind_and_resume(started, std::move(job), *child); !resumed) {
            return base::Failure{resumed.error()};
        }
    }
    return ChildProcess(std::move(child));
}

// The child's end inheritable, the runtime's not; a buffer quota of 65536
// bytes each way.
base::Result<ChildPipe> create_child_stdio_pipe(ChildEnd child_end) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, kChildPipeQuota)) return base::Failure{os_error_text(GetLastError())};
    OwnedHandle read_end(native_handle(read));
    OwnedHandle write_end(native_handle(write));
    OwnedHandle& runtime_end = child_end == ChildEnd::Reads ? write_end : read_end;
    if (!SetHandleInformation(win32_handle(runtime_end.native()), HANDLE_FLAG_INHERIT, 0)) {
        return base::Failure{os_error_text(GetLastError())};
    }
    if (child_end == ChildEnd::Reads) return ChildPipe{std::move(read_end), std::move(write_end)};
    return ChildPipe{std::move(write_end), std::move(read_end)};
}

// taskkill.exe /PID <pid> /T /F from the system directory, with all three
// standard streams on the null device and no window; nullopt when it could not
// be started, or when the child has exited: taskkill cannot find a tree whose
// root has gone.
std::optional<ChildProcess> start_ending_tree(ChildProcess& child) {
    // taskkill finds a tree by its root, which is gone once the child has exited.
    if (child.poll_exit().state == ExitPoll::State::Exited) return std::nullopt;
    ProcessStart start;
    start.program = from_utf16(windows::taskkill_program(system_root()));
    const std::string pid = std::to_string(child.process_id());
    start.arguments = {L"/PID", OsString(pid.begin(), pid.end()), L"/T", L"/F"};
    base::Result<ChildProcess> taskkill = start_child_process(start);
    if (!taskkill.ok()) return std::nullopt;
    return std::move(taskkill).value();
}

}  // namespace quern::platform
