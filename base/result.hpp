// A value, or the reason there is none: the one result type of every layer. A failure keeps its
// reason (a PortError, a FileError, a message) all the way to whoever reports it.
#pragma once

#include <concepts>
#include <type_traits>
#include <utility>
#include <variant>

namespace ktnet {

// A reason, marked as the failure of a result; needed only where the value and the reason have
// the same type.
template <class E>
struct Unexpected {
    E error;
};
template <class E>
Unexpected<std::decay_t<E>> unexpected(E&& error) {
    return {std::forward<E>(error)};
}

template <class T, class E>
class [[nodiscard]] Result {
public:
    Result() requires std::default_initializable<T> : state_(std::in_place_index<0>) {}
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) requires(!std::same_as<T, E>)
        : state_(std::in_place_index<1>, std::move(error)) {}
    template <class F>
    requires std::constructible_from<E, F> Result(Unexpected<F> failure)
        : state_(std::in_place_index<1>, std::move(failure.error)) {}

    bool has_value() const { return state_.index() == 0; }
    bool ok() const { return has_value(); }
    explicit operator bool() const { return has_value(); }

    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    // Only when there is no value.
    const E& error() const { return std::get<1>(state_); }
    E& error() { return std::get<1>(state_); }

private:
    std::variant<T, E> state_;
};

// Nothing to give back but success.
struct Done {};

}  // namespace ktnet
