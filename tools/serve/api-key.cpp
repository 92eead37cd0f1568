#include "api-key.h"

#include <cctype>

bool ApiKey::admits(std::string_view authorization) const {
  if (key_.empty()) return true;
  constexpr std::string_view kScheme = "bearer ";  // the scheme's case does not matter
  if (authorization.size() < kScheme.size()) return false;
  for (size_t i = 0; i < kScheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(authorization[i])) != kScheme[i]) return false;
  }
  const std::string_view given = authorization.substr(kScheme.size());
  unsigned char difference = given.size() == key_.size() ? 0 : 1;
  for (size_t i = 0; i < given.size(); ++i) {
    difference |= static_cast<unsigned char>(given[i] ^ key_[i % key_.size()]);
  }
  return difference == 0;
}
