#include "group_codes.h"

namespace quorvane {

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool is_whole_integer(std::string_view token) {
  std::size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  if (i == token.size()) return false;
  std::uint64_t magnitude = 0;
  for (; i < token.size(); ++i) {
    if (!digit(token[i])) return false;
    magnitude = magnitude * 10 + static_cast<unsigned>(token[i] - '0');
    if (magnitude > (std::uint64_t{1} << 31)) return false;
  }
  return negative || magnitude < (std::uint64_t{1} << 31);
}

bool is_decimal_number(std::string_view token) {
  std::size_t i = 0;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < token.size() && digit(token[i])) ++i, ++digits;
  if (i < token.size() && token[i] == '.') {
    ++i;
    while (i < token.size() && digit(token[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
    ++i;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
    std::size_t exponent = 0;
    while (i < token.size() && digit(token[i])) ++i, ++exponent;
    if (exponent == 0) return false;
  }
  return i == token.size();
}

bool fits(GroupType type, std::string_view token) {
  switch (type) {
    case GroupType::kText:
      return true;
    case GroupType::kInteger:
      return is_whole_integer(token);
    case GroupType::kReal:
      return is_decimal_number(token);
    default:
      return false;
  }
}

}  // namespace quorvane
