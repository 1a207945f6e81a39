#include "e2e/child_process.h"

#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>

namespace {

// One argument as the C runtime's command-line parser gives it back.
std::string quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        return argument;
    }
    std::string text = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled; elsewhere they are themselves.
        text.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        text += c;
    }
    text.append(2 * backslashes, '\\');
    return text + "\"";
}

std::string nameOf(const std::string& variable) {
    std::string name = variable.substr(0, variable.find('=', 1));
    for (char& c : name) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return name;
}

// This process's environment with the extra variables in place of any of
// the same names, as the block CreateProcess takes.
std::string environmentBlock(const std::vector<std::string>& extra) {
    std::string block;
    char* own = ::GetEnvironmentStringsA();
    for (const char* entry = own; entry != nullptr && *entry != '\0';
         entry += std::strlen(entry) + 1) {
        bool replaced = false;
        for (const std::string& variable : extra) {
            replaced = replaced || nameOf(variable) == nameOf(entry);
        }
        if (!replaced) {
            block.append(entry).push_back('\0');
        }
    }
    ::FreeEnvironmentStringsA(own);
    for (const std::string& variable : extra) {
        block.append(variable).push_back('\0');
    }
    block.push_back('\0');
    return block;
}

HANDLE openAppending(const std::string& path) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return ::CreateFileA(path.c_str(), FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// UTF-8 as UTF-16, so that a Cyrillic argument reaches the child as typed
// whatever the ANSI code page.
std::wstring wide(const std::string& utf8) {
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size > 0 ? size : 1), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, text.data(), size);
    text.pop_back();  // the terminating zero
    return text;
}

HANDLE handleOf(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

}  // namespace

ChildProcess::~ChildProcess() {
    stop(CHILD_KILL);
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& directory, const std::string& stdoutFile,
                         const std::string& stderrFile,
                         const std::vector<std::string>& environment) {
    HANDLE out = openAppending(stdoutFile);
    if (out == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool started = launch(program, args, directory, reinterpret_cast<std::intptr_t>(out),
                                stderrFile, environment);
    ::CloseHandle(out);
    return started;
}

bool ChildProcess::startPiped(const std::string& program, const std::vector<std::string>& args,
                              const std::string& directory, const std::string& stderrFile,
                              const std::vector<std::string>& environment) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, nullptr, 4096)) {
        return false;
    }
    ::SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    const bool started = launch(program, args, directory,
                                reinterpret_cast<std::intptr_t>(writeEnd), stderrFile, environment);
    ::CloseHandle(writeEnd);
    if (!started) {
        ::CloseHandle(readEnd);
        return false;
    }
    output_ = reinterpret_cast<std::intptr_t>(readEnd);
    return true;
}

std::string ChildProcess::readOutput(int timeoutMs) {
    std::string text;
    if (output_ == -1) {
        return text;
    }
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(handleOf(output_), nullptr, 0, nullptr, &available, nullptr)) {
            return text;  // the writer has gone and everything is read
        }
        if (available > 0) {
            std::string chunk(available, '\0');
            DWORD n = 0;
            if (!::ReadFile(handleOf(output_), chunk.data(), available, &n, nullptr)) {
                return text;
            }
            text.append(chunk, 0, n);
            continue;
        }
        if (!text.empty() || ::GetTickCount64() >= deadline) {
            return text;
        }
        ::Sleep(10);  // polling the pipe, not pacing the test
    }
}

void ChildProcess::closeOutput() {
    if (output_ != -1) {
        ::CloseHandle(handleOf(output_));
        output_ = -1;
    }
}

bool ChildProcess::launch(const std::string& program, const std::vector<std::string>& args,
                          const std::string& directory, std::intptr_t outHandle,
                          const std::string& stderrFile,
                          const std::vector<std::string>& environment) {
    HANDLE out = handleOf(outHandle);
    std::string path = program;
    if (path.size() < 4 || path.compare(path.size() - 4, 4, ".exe") != 0) {
        path += ".exe";
    }
    // Only the child's own ends are inheritable, and they are closed here
    // right after the start, so no later child inherits another's pipe.
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, nullptr, 0)) {
        return false;
    }
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    HANDLE err = openAppending(stderrFile);

    std::string commandLine = quoted(path);
    for (const std::string& arg : args) {
        commandLine += " " + quoted(arg);
    }
    std::string block = environmentBlock(environment);
    std::wstring wideCommandLine = wide(commandLine);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION started{};
    // A process group of its own, so that a break event reaches the child alone.
    const bool ok = err != INVALID_HANDLE_VALUE &&
                    ::CreateProcessW(wide(path).c_str(), wideCommandLine.data(), nullptr, nullptr,
                                     TRUE, CREATE_NEW_PROCESS_GROUP, block.data(),
                                     wide(directory).c_str(), &startup, &started);
    ::CloseHandle(readEnd);
    if (err != INVALID_HANDLE_VALUE)
        ::CloseHandle(err);
    if (!ok) {
        ::CloseHandle(writeEnd);
        return false;
    }
    ::CloseHandle(started.hThread);
    pid_ = static_cast<int>(started.dwProcessId);
    process_ = reinterpret_cast<std::intptr_t>(started.hProcess);
    input_ = reinterpret_cast<std::intptr_t>(writeEnd);
    return true;
}

void ChildProcess::write(const std::string& text) {
    if (input_ == -1) {
        return;
    }
    std::size_t written = 0;
    while (written < text.size()) {
        DWORD n = 0;
        if (!::WriteFile(handleOf(input_), text.data() + written,
                         static_cast<DWORD>(text.size() - written), &n, nullptr) ||
            n == 0) {
            return;
        }
        written += n;
    }
}

// Windows has no signals to send a running program that leave it running.
bool ChildProcess::signal(int) {
    return false;
}

int ChildProcess::stop(int signal, int deadlineMs) {
    if (input_ != -1) {
        ::CloseHandle(handleOf(input_));
        input_ = -1;
    }
    closeOutput();
    if (pid_ <= 0) {
        return -1;
    }
    HANDLE process = handleOf(process_);
    if (signal == CHILD_KILL) {
        ::TerminateProcess(process, 128 + CHILD_KILL);
    } else if (signal != CHILD_WAIT &&
               !::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(pid_))) {
        ::TerminateProcess(process, static_cast<UINT>(128 + signal));
    }
    int status = -1;
    if (::WaitForSingleObject(process, static_cast<DWORD>(deadlineMs)) == WAIT_OBJECT_0) {
        DWORD code = 0;
        ::GetExitCodeProcess(process, &code);
        status = static_cast<int>(code);
    } else {
        ::TerminateProcess(process, 128 + CHILD_KILL);
        ::WaitForSingleObject(process, INFINITE);
    }
    ::CloseHandle(process);
    process_ = 0;
    pid_ = -1;
    return status;
}
