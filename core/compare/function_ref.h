#pragma once
#include <memory>
#include <type_traits>
#include <utility>

namespace quillet {

template <typename Signature>
class FunctionRef;

// A non-owning reference to a callable: one indirect call, no allocation. The
// callable must outlive the reference, so take it as a parameter, never store it.
template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
 public:
  // The constraint keeps copies on the copy constructor; the class is used like a function parameter.
  // NOLINTBEGIN(bugprone-forwarding-reference-overload,google-explicit-constructor)
  template <typename F>
  requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> && std::is_invocable_r_v<R, F&, Args...>)
      FunctionRef(F&& callable)
  noexcept
      : m_object(const_cast<void*>(static_cast<const void*>(std::addressof(callable)))),
        m_call([](void* object, Args... args) -> R {
          auto& target = *static_cast<std::remove_reference_t<F>*>(object);
          if constexpr (std::is_void_v<R>)
            target(std::forward<Args>(args)...);
          else
            return target(std::forward<Args>(args)...);
        }) {}
  // NOLINTEND(bugprone-forwarding-reference-overload,google-explicit-constructor)

  R operator()(Args... args) const { return m_call(m_object, std::forward<Args>(args)...); }

 private:
  void* m_object;
  R (*m_call)(void*, Args...);
};

}  // namespace quillet
