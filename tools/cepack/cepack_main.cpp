#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#endif

#include "tools/cepack/cepack.h"
#include "tools/cepack/package_output.h"

#ifdef _WIN32

namespace {

// Text for a console goes out through WriteConsoleW, turned from UTF-8 into
// UTF-16, so that cmd.exe shows every character whatever its code page.
// Whole lines are written; a UTF-8 sequence is never split.
class ConsoleBuffer : public std::streambuf {
public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {}
    ~ConsoleBuffer() override { Flush(); }

protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) {
            pending_ += static_cast<char>(c);
            if (c == '\n') Flush();
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* text, std::streamsize n) override {
        pending_.append(text, static_cast<size_t>(n));
        if (pending_.find('\n') != std::string::npos) Flush();
        return n;
    }
    int sync() override {
        Flush();
        return 0;
    }

private:
    void Flush() {
        if (pending_.empty()) return;
        int n = MultiByteToWideChar(CP_UTF8, 0, pending_.data(), static_cast<int>(pending_.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(n), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, pending_.data(), static_cast<int>(pending_.size()), wide.data(), n);
        DWORD written = 0;
        WriteConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        pending_.clear();
    }

    HANDLE console_;
    std::string pending_;
};

// A stream that is a console gets a ConsoleBuffer; redirected output stays
// the UTF-8 bytes the Linux build writes, "\n" line ends included.
void BindStream(std::ostream& stream, FILE* file, DWORD which, std::unique_ptr<ConsoleBuffer>* buffer) {
    HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode)) {
        *buffer = std::make_unique<ConsoleBuffer>(handle);
        stream.rdbuf(buffer->get());
    } else {
        _setmode(_fileno(file), _O_BINARY);
    }
}

std::string Utf8(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

}  // namespace

// The arguments as typed, in UTF-16, whatever the ANSI code page holds; the
// tool works in UTF-8 from here on.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(Utf8(argv[i]));
    std::vector<char*> pointers;
    for (std::string& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    std::unique_ptr<ConsoleBuffer> out, err;
    BindStream(std::cout, stdout, STD_OUTPUT_HANDLE, &out);
    BindStream(std::cerr, stderr, STD_ERROR_HANDLE, &err);
    cepack::RemoveTemporaryOnInterrupt();
    int status = cepack::RunCommandLine(argc, pointers.data(), cepack::Streams{std::cout, std::cerr});
    std::cout.flush();
    std::cerr.flush();
    std::cout.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    return status;
}

#else

int main(int argc, char** argv) {
    cepack::RemoveTemporaryOnInterrupt();
    return cepack::RunCommandLine(argc, argv, cepack::Streams{std::cout, std::cerr});
}

#endif
