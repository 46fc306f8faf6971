#include "support/system_win32.h"

#include <objbase.h>

// The linker lists the constructors between a leading -1 and a closing 0,
// to be called last to first.
using StaticConstructor = void (*)();
extern "C" StaticConstructor __CTOR_LIST__[];

void RunStaticConstructors() {
    size_t count = 0;
    while (__CTOR_LIST__[count + 1]) ++count;
    for (size_t i = count; i > 0; --i) __CTOR_LIST__[i]();
}

void InitCommonControlsByName() {
    // The module stays loaded: the dialog classes live in it.
    auto init = LookUpFunction<void(WINAPI*)()>(LoadLibraryA("comctl32.dll"), "InitCommonControls");
    if (init) init();
}

ComApartment::ComApartment() : ole_(LoadLibraryA("ole32.dll")) {
    auto initialize = LookUpFunction<HRESULT(WINAPI*)(void*, DWORD)>(ole_, "CoInitializeEx");
    auto uninitialize = LookUpFunction<void(WINAPI*)()>(ole_, "CoUninitialize");
    // S_FALSE (already initialised this way) is balanced by a call too; a
    // thread in another apartment keeps it and calls nothing.
    if (initialize && uninitialize && SUCCEEDED(initialize(nullptr, COINIT_APARTMENTTHREADED))) {
        uninitialize_ = uninitialize;
    }
}

ComApartment::~ComApartment() {
    if (uninitialize_) uninitialize_();
    if (ole_) FreeLibrary(ole_);
}
