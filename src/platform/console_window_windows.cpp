#include "platform/console_window.h"

#include <windows.h>

#include <string>

extern const bool BYTES_DEFAULT_TO_CP1251 = true;

namespace {

std::wstring toWide(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(
        static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)),
        L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(),
                          static_cast<int>(wide.size()));
    return wide;
}

std::string toUtf8(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = static_cast<int>(wide.size());
    std::string utf8(static_cast<std::size_t>(::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size,
                                                                    nullptr, 0, nullptr, nullptr)),
                     '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), static_cast<int>(utf8.size()),
                          nullptr, nullptr);
    return utf8;
}

// The length of the text without an unfinished UTF-8 sequence at its end.
std::size_t completeLength(const std::string& utf8) {
    for (std::size_t back = 1; back <= 3 && back <= utf8.size(); ++back) {
        const auto byte = static_cast<unsigned char>(utf8[utf8.size() - back]);
        if ((byte & 0xC0) == 0x80) {
            continue;  // a continuation byte: look further back for the lead
        }
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? utf8.size() - back : utf8.size();
    }
    return utf8.size();
}

// Collects what is written and shows it at each flush.
class WindowOutput : public std::streambuf {
  public:
    explicit WindowOutput(HANDLE window) : window_(window) {}

  protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            pending_ += traits_type::to_char_type(c);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        pending_.append(text, static_cast<std::size_t>(count));
        return count;
    }
    int sync() override {
        const std::size_t complete = completeLength(pending_);
        const std::wstring wide = toWide(pending_.substr(0, complete));
        pending_.erase(0, complete);
        std::size_t shown = 0;
        while (shown < wide.size()) {
            DWORD written = 0;
            if (!::WriteConsoleW(window_, wide.data() + shown,
                                 static_cast<DWORD>(wide.size() - shown), &written, nullptr) ||
                written == 0) {
                return -1;
            }
            shown += written;
        }
        return 0;
    }

  private:
    HANDLE window_;
    std::string pending_;
};

// Reads what is typed, a line at a time as the console hands it over.
class WindowInput : public std::streambuf {
  public:
    explicit WindowInput(HANDLE window) : window_(window) {}

  protected:
    int_type underflow() override {
        while (gptr() == egptr()) {
            if (ended_ || !readMore()) {
                ended_ = true;
                return traits_type::eof();
            }
        }
        return traits_type::to_int_type(*gptr());
    }

  private:
    bool readMore() {
        wchar_t typed[1024];
        DWORD count = 0;
        if (!::ReadConsoleW(window_, typed, 1024, &count, nullptr) || count == 0) {
            return false;
        }
        std::wstring wide = carried_ + std::wstring(typed, count);
        carried_.clear();
        // A Ctrl-Z ends the input, as the C runtime reads a console.
        if (const std::size_t end = wide.find(L'\x1a'); end != std::wstring::npos) {
            wide.erase(end);
            ended_ = true;
        } else if (wide.back() >= 0xD800 && wide.back() <= 0xDBFF) {
            carried_ = wide.back();  // the other half of the pair comes with the next read
            wide.pop_back();
        }
        buffer_ = toUtf8(wide);
        setg(buffer_.data(), buffer_.data(), buffer_.data() + buffer_.size());
        return !buffer_.empty() || !ended_;
    }

    HANDLE window_;
    std::wstring carried_;
    std::string buffer_;
    bool ended_ = false;
};

HANDLE windowOf(StandardStream stream) {
    const DWORD which = stream == StandardStream::Input    ? STD_INPUT_HANDLE
                        : stream == StandardStream::Output ? STD_OUTPUT_HANDLE
                                                           : STD_ERROR_HANDLE;
    HANDLE handle = ::GetStdHandle(which);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !::GetConsoleMode(handle, &mode)) {
        return nullptr;
    }
    return handle;
}

}  // namespace

std::streambuf* consoleWindowBuffer(StandardStream stream) {
    HANDLE window = windowOf(stream);
    if (window == nullptr) {
        return nullptr;
    }
    switch (stream) {
        case StandardStream::Input: {
            static WindowInput input(window);
            return &input;
        }
        case StandardStream::Output: {
            static WindowOutput output(window);
            return &output;
        }
        case StandardStream::Error: {
            static WindowOutput error(window);
            return &error;
        }
    }
    return nullptr;
}

void showInConsoleTitle(const std::string& utf8) {
    if (::GetConsoleWindow() != nullptr) {
        ::SetConsoleTitleW(toWide(utf8).c_str());
    }
}
