// System functions that not every Windows the programs run on has: looked up
// by name, so that a missing one leaves a feature out instead of keeping the
// program from starting.
#pragma once

#include <windows.h>

template <typename Function>
Function LookUpFunction(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

template <typename Function>
Function LookUpKernelFunction(const char* name) {
    return LookUpFunction<Function>(GetModuleHandleA("kernel32.dll"), name);
}

// For a program linked without the C runtime's start-up (-nostartfiles),
// which has its own entry point and leaves it through ExitProcess: runs the
// static constructors, should any ever appear, as that start-up would.
void RunStaticConstructors();

// Loads comctl32.dll and calls its InitCommonControls, so that the dialog
// classes of the version the manifest asks for exist (Windows XP registers
// them only then). A system without either goes on without.
void InitCommonControlsByName();

// COM in a single-threaded apartment for as long as the guard lives, as the
// shell's folder browser needs; ole32 is looked up by name, like the rest.
class ComApartment {
public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HMODULE ole_ = nullptr;
    void (WINAPI* uninitialize_)() = nullptr;
};
