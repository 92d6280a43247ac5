// The async bridge: a C++20 coroutine whose objects are Python coroutines.
//
//   support::Coroutine fetch(py::object self, py::object url) {
//     py::object page = co_await some_python_awaitable(url);
//     co_return page;
//   }
//   ... return fetch(self, url).to_python("Client.fetch");
//
// Inside, `co_await` takes any Python awaitable and delegates to it exactly as
// `yield from awaitable.__await__()` does: values it yields go out to the event loop,
// sends and throws (CancelledError included) go down to it first, and its result, or
// the error it ends with, comes back at the `co_await` (as py::error_already_set, so
// C++ code can catch it). `co_return` gives the await result; every path must end in
// `co_return`.
//
// Rules for coroutine functions: take Python objects as parameters (the parameters
// are visited by the garbage collector, locals are not), capture nothing (no lambda
// coroutines with captures), and never hold a py::gil_scoped_release across co_await.
#pragma once

#include "support/python.hpp"

#include <coroutine>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace support {

class [[nodiscard]] Coroutine {
 public:
  struct promise_type;
  using handle_type = std::coroutine_handle<promise_type>;

  Coroutine(Coroutine&& other) noexcept : frame_(std::exchange(other.frame_, {})) {}
  Coroutine& operator=(Coroutine&&) = delete;
  ~Coroutine();

  // Hands the frame over to a new Python coroutine object; `qualname` names it in
  // reprs and in the "was never awaited" warning.
  py::object to_python(const char* qualname) &&;

 private:
  explicit Coroutine(handle_type frame) : frame_(frame) {}
  handle_type frame_;
};

namespace detail {

struct Awaiter {
  Coroutine::promise_type* promise;
  bool await_ready() const noexcept { return false; }
  void await_suspend(std::coroutine_handle<>) const noexcept {}
  py::object await_resume() const;
};

}  // namespace detail

struct Coroutine::promise_type {
  template <class... Params>
  promise_type(Params&... params) {  // NOLINT: sees the frame's parameter copies (if any)
    ++live_frames;
    (track(params), ...);
  }
  ~promise_type() { --live_frames; }
  promise_type(const promise_type&) = delete;
  promise_type& operator=(const promise_type&) = delete;

  // Frames alive in this module (they are only made and dropped with the GIL held):
  // lets the tests prove that every path releases its frame.
  static inline long live_frames = 0;

  Coroutine get_return_object() { return Coroutine(handle_type::from_promise(*this)); }
  std::suspend_always initial_suspend() noexcept { return {}; }
  std::suspend_always final_suspend() noexcept { return {}; }
  void return_value(py::object value) { result = std::move(value); }
  void unhandled_exception() noexcept { error = std::current_exception(); }

  detail::Awaiter await_transform(py::handle awaitable);
  detail::Awaiter await_transform(Coroutine&& nested);

  std::vector<const py::handle*> parameters;    // visited by the garbage collector
  py::object delegate;                          // iterator of the awaitable in progress
  py::object sent;                              // its result, for await_resume
  std::optional<py::error_already_set> thrown;  // or the error to raise there instead
  py::object result;                            // the co_return value
  std::exception_ptr error;                     // an exception that left the body

 private:
  template <class T>
  void track(T& parameter) {
    if constexpr (std::is_base_of_v<py::handle, std::remove_cv_t<T>>) {
      parameters.push_back(&parameter);
    }
  }
};

}  // namespace support
