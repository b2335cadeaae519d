// What a DXF group code says of the value that follows it, and the forms of
// a value that the merge accepts inside the entities it copies.
#ifndef QUORVANE_GROUP_CODES_H
#define QUORVANE_GROUP_CODES_H

#include <array>
#include <cstdint>
#include <string_view>

namespace quorvane {

/// The type of the value a group code introduces, by the DXF reference's ranges.
enum class GroupType : std::uint8_t { kNone, kText, kReal, kInteger };

namespace group_codes {

inline constexpr std::int32_t kLast = 1071;

constexpr std::array<GroupType, kLast + 1> table() {
  std::array<GroupType, kLast + 1> types{};
  auto set = [&types](std::int32_t first, std::int32_t last, GroupType type) {
    for (std::int32_t code = first; code <= last; ++code)
      types[static_cast<std::size_t>(code)] = type;
  };
  set(1, 9, GroupType::kText);
  set(100, 102, GroupType::kText);
  set(105, 105, GroupType::kText);
  set(300, 369, GroupType::kText);
  set(390, 399, GroupType::kText);
  set(410, 419, GroupType::kText);
  set(430, 439, GroupType::kText);
  set(470, 481, GroupType::kText);
  set(999, 999, GroupType::kText);
  set(1000, 1009, GroupType::kText);
  set(10, 59, GroupType::kReal);
  set(110, 149, GroupType::kReal);
  set(210, 239, GroupType::kReal);
  set(460, 469, GroupType::kReal);
  set(1010, 1059, GroupType::kReal);
  set(60, 99, GroupType::kInteger);
  set(160, 179, GroupType::kInteger);
  set(270, 299, GroupType::kInteger);
  set(370, 389, GroupType::kInteger);
  set(400, 409, GroupType::kInteger);
  set(420, 429, GroupType::kInteger);
  set(440, 459, GroupType::kInteger);
  set(1060, 1071, GroupType::kInteger);
  return types;
}

inline constexpr std::array<GroupType, kLast + 1> kTypes = table();

}  // namespace group_codes

/// Gives the type of the value `code` introduces: kNone for a code of no range (0 among
/// them: inside an entity it starts another).
inline GroupType group_type(std::int32_t code) {
  const auto index = static_cast<std::uint32_t>(code);  // a negative code is out of range too
  return index <= group_codes::kLast ? group_codes::kTypes[index] : GroupType::kNone;
}

/// Tells whether `token` is a decimal integer within 32 bits: an optional sign and digits,
/// leading zeros allowed.
bool is_whole_integer(std::string_view token);
/// Tells whether `token` is a decimal number: an optional sign, digits before or after
/// an optional point (at least one), then optionally e or E, an optional sign and digits.
/// No infinities, NaNs or hexadecimal forms; any magnitude.
bool is_decimal_number(std::string_view token);
/// Tells whether `token` is a value that fits a code of this type: any token for text.
bool fits(GroupType type, std::string_view token);

}  // namespace quorvane

#endif
