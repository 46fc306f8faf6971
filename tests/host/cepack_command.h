// How the cepack tests start the tool: the Linux build, or cepack.exe under
// Wine when CEPACK_EXE names it (CEPACK_RUNNER: the command that runs a
// Windows program, such as /usr/lib/wine/wine64). One set of cases serves
// both builds.
#pragma once

#include <string>

namespace cepacktest {

bool OnWindows();
// The tool, ready for the shell: arguments follow.
std::string CepackCommand();
// The Linux build, whichever build the cases run.
std::string LinuxCepackCommand();
// A copy of the tool installed in binDir (core form) under its own name;
// the command that runs the copy.
std::string InstallCepackCopy(const std::string& binDir);
// A path the tool made itself (core form), as the tool prints it: on
// Windows with Wine's drive for the Unix root.
std::string ToolPath(const std::string& corePath);
// Text with "\" turned into "/", so that a joined path reads the same from
// both builds.
std::string Slashed(std::string text);

}  // namespace cepacktest
