#pragma once
// The server's shared secret: requests carry it as "Authorization: Bearer KEY".

#include <string>
#include <string_view>

class ApiKey {
 public:
  // An empty key lets every request in.
  explicit ApiKey(std::string key) : key_(std::move(key)) {}

  bool required() const { return !key_.empty(); }
  // Whether the Authorization header's value carries the key. The time taken
  // depends on the lengths only, never on how much of the key was right.
  bool admits(std::string_view authorization) const;

 private:
  std::string key_;
};
