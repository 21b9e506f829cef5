// The small component base shared by the socket and viewer classes: owner,
// name, tag and the designing/destroying state, plus the exception base and
// the helper that binds an object's method as an event handler.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace telorus {

// The class library's base exception: a message only.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

class TObject {
 public:
  virtual ~TObject() = default;
};

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner = nullptr) : FOwner(owner) {}
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& name) { FName = name; }
  std::intptr_t Tag() const { return FTag; }
  void SetTag(std::intptr_t tag) { FTag = tag; }

  // Design-time use (a form designer) and the destructor's state.
  bool Designing() const { return FDesigning; }
  void SetDesigning(bool designing) { FDesigning = designing; }
  bool Destroying() const { return FDestroying; }

 protected:
  void BeginDestroy() { FDestroying = true; }

 private:
  TComponent* FOwner;
  std::string FName;
  std::intptr_t FTag = 0;
  bool FDesigning = false;
  bool FDestroying = false;
};

// Binds `object->method` as a callable, the way a host assigns an event.
template <typename T, typename R, typename... Args>
auto MethodEvent(T* object, R (T::*method)(Args...)) {
  return [object, method](Args... args) -> R { return (object->*method)(std::forward<Args>(args)...); };
}

}  // namespace telorus
