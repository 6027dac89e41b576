// Nothing thrown may leave a Qt slot: Qt does not carry an exception through its event loop, and
// one that gets there ends the program. So every slot that reaches the engine is connected with
// connect_guarded, whatever its body catches itself, and a step whose failure changes what its
// handler does next (a grid that could not be read, a sample file refused) runs through guarded.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <cstddef>
#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "workbench/results/engine_text.h"

namespace korvane::wb {

// Where the text of what was thrown goes: a page's message box, with the page's words before it
// where it has any.
using Error_Report = std::function<void(const QString& what)>;

// Runs body; the text of anything it throws goes to report instead of further. True when body
// returned normally.
template <class Body>
bool guarded(const Error_Report& report, Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
        return true;
    } catch (...) {
        // A report that fails in turn (no memory left for the box) leaves the error unsaid
        // rather than the program ended.
        try {
            if (report) report(current_error_text());
        } catch (...) {
        }
    }
    return false;
}

namespace detail {

template <class Slot, class Args, std::size_t... I>
constexpr bool takes_first(std::index_sequence<I...>) {
    return std::is_invocable_v<Slot&, std::tuple_element_t<I, Args>&...>;
}

// Calls slot with as many of the signal's arguments, from the first, as it takes; as Qt does for
// a slot connected directly.
template <std::size_t N, class Slot, class Args>
void call_with_first(Slot& slot, Args& args) {
    if constexpr (takes_first<Slot, Args>(std::make_index_sequence<N>{}))
        [&]<std::size_t... I>(std::index_sequence<I...>) { slot(std::get<I>(args)...); }(std::make_index_sequence<N>{});
    else if constexpr (N > 0)
        call_with_first<N - 1>(slot, args);
    else
        static_assert(N > 0, "the slot takes neither the signal's first arguments nor none");
}

}  // namespace detail

// QObject::connect(sender, signal, context, slot) with the slot run through guarded: what it
// throws goes to report. The slot takes the signal's first arguments, or none.
template <class Sender, class Signal, class Slot>
QMetaObject::Connection connect_guarded(Sender* sender, Signal signal, const QObject* context, Slot slot,
                                        Error_Report report) {
    return QObject::connect(sender, signal, context,
                            [slot = std::move(slot), report = std::move(report)](const auto&... args) mutable {
                                auto all = std::forward_as_tuple(args...);
                                guarded(report, [&] { detail::call_with_first<sizeof...(args)>(slot, all); });
                            });
}

}  // namespace korvane::wb
