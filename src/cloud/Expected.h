#pragma once

#include <utility>
#include <variant>

// A value or the error that stands in its place: what an asynchronous operation of the cloud client
// hands to its completion, and what a model's decoder returns.
template <typename T, typename E>
class Expected {
public:
    Expected(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    {
    }
    Expected(E error)
        : m_state(std::in_place_index<1>, std::move(error))
    {
    }

    bool hasValue() const { return m_state.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    // Only when hasValue().
    const T& value() const& { return std::get<0>(m_state); }
    T& value() & { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    const T* operator->() const { return &std::get<0>(m_state); }
    const T& operator*() const& { return std::get<0>(m_state); }

    // Only when !hasValue().
    const E& error() const& { return std::get<1>(m_state); }
    E&& error() && { return std::get<1>(std::move(m_state)); }

private:
    std::variant<T, E> m_state;
};
