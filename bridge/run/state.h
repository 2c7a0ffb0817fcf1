// How every module keeps its state: one struct with each field's default written beside it, and
// one instance of it. The module's reset (reset_bridge_state, before each unit test case) puts a
// fresh instance in place, so no field can be forgotten and leak from one case into the next. In
// place, because states that hold shared atomic words cannot be assigned, and because the names
// that other modules read are references into the instance. The instance is declared constinit:
// every default is a constant, so the state is in place before any code runs and no start-up
// code builds it (a handle that is not open is NULL, since INVALID_HANDLE_VALUE is no constant).
//
// The rule renew relies on: a state struct has no const and no reference member. The names
// bound to the old instance may then go on naming the new one, and a field that must not be
// written from outside is exported as a const reference instead.
#pragma once
#include <new>
#include <type_traits>

template <typename T>
void renew(T& state) {
    // No trait sees a member's constness. A const or reference member leaves a struct copyable
    // but not assignable, which this catches; a struct holding an atomic is neither, so beside an
    // atomic such a member goes unseen.
    static_assert(!std::is_copy_constructible_v<T> || std::is_copy_assignable_v<T>,
                  "a state struct has no const and no reference member");
    state.~T();
    ::new (static_cast<void*>(&state)) T();
}
