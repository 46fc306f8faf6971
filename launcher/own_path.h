// The launcher's own path, by which it reads the archive appended to it
// through the file layer's ANSI calls.
#pragma once

#include <cstdint>

// The path GetModuleFileNameW gave (length as it returned it: capacity or
// more means cut), into out (PathBufferSize bytes) in an ANSI form that
// opens that very file: its own, or its short 8.3 name. False, out empty,
// where it has neither or is cut: the package cannot be opened from there.
bool TakeOwnPath(const wchar_t* path, uint32_t length, uint32_t capacity, char* out);

// Tells the user so (no owner; nothing exists yet to own the box).
void ShowCannotOpenFromHere();
