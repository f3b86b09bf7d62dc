#include "binding/QRPort.h"

#include <algorithm>
#include <cmath>

std::string LeftStr(const std::string& s, int n) {
  if (n <= 0) return {};
  return s.substr(0, static_cast<size_t>(n));
}

std::string RightStr(const std::string& s, int n) {
  if (n <= 0) return {};
  const size_t count = std::min(s.size(), static_cast<size_t>(n));
  return s.substr(s.size() - count);
}

std::string Space(int n) {
  if (n <= 0) return {};
  return std::string(static_cast<size_t>(std::min(n, 255)), ' ');
}

std::string ReverseStr(const std::string& s) { return std::string(s.rbegin(), s.rend()); }

long double NewPower(long double base, long double exponent) { return std::pow(base, exponent); }
