#include "tests/host/cepack_command.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "tests/common/test_util.h"

namespace cepacktest {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

bool OnWindows() { return !Env("CEPACK_EXE").empty(); }

std::string CepackCommand() {
    if (OnWindows()) return Env("CEPACK_RUNNER") + " " + testutil::ShellQuote(Env("CEPACK_EXE"));
    return testutil::ShellQuote(CEPACK_PATH);
}

std::string LinuxCepackCommand() { return testutil::ShellQuote(CEPACK_PATH); }

std::string InstallCepackCopy(const std::string& binDir) {
    std::string dir = testutil::NativePath(binDir);
    std::filesystem::create_directories(dir);
    std::string source = OnWindows() ? Env("CEPACK_EXE") : CEPACK_PATH;
    std::string copy = dir + (OnWindows() ? "/cepack.exe" : "/cepack");
    std::filesystem::copy_file(source, copy, std::filesystem::copy_options::overwrite_existing);
    return (OnWindows() ? Env("CEPACK_RUNNER") + " " : "") + testutil::ShellQuote(copy);
}

std::string ToolPath(const std::string& corePath) {
    return OnWindows() ? "Z:" + corePath : testutil::NativePath(corePath);
}

std::string Slashed(std::string text) {
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

}  // namespace cepacktest
