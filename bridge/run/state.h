// How every module keeps its state: one struct with each field's default written beside it, and
// one instance of it. The module's reset (reset_bridge_state, before each unit test case) puts a
// fresh instance in place, so no field can be forgotten and leak from one case into the next. In
// place, because states that hold shared atomic words cannot be assigned, and because the names
// that other modules read are references into the instance. The instance is declared constinit:
// every default is a constant, so the state is in place before any code runs and no start-up
// code builds it (a handle that is not open is NULL, since INVALID_HANDLE_VALUE is no constant).
#pragma once
#include <new>

template <typename T>
void renew(T& state) {
    state.~T();
    ::new (static_cast<void*>(&state)) T();
}
