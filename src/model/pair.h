#pragma once
// A reporting unit and the pair of units: the left unit ("S" in scheme files, the left grid) and
// the right one ("D"). What is kept per side is in a BySide array indexed by Side.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace dupsweep {

struct TUnitData {
  std::int32_t nUnitID = 0;
  std::string sUnitCode;
  std::int32_t nLevel = 0;
  std::string sUnitName;
};

// Refers to the two units (owned by the tree nodes or the scheme that loaded them); `GroupName`
// is composed once, at construction.
struct TUnitGroup {
  TUnitGroup(const TUnitData& unitS, const TUnitData& unitD)
      : UnitS(&unitS), UnitD(&unitD), GroupName(unitS.sUnitName + "=>" + unitD.sUnitName) {}
  const TUnitData* UnitS;
  const TUnitData* UnitD;
  std::string GroupName;
};

enum Side : std::size_t { Left = 0, Right = 1, SideCount = 2 };

template <class T>
using BySide = std::array<T, SideCount>;

constexpr Side otherSide(Side side) noexcept { return side == Left ? Right : Left; }

// Two units by value, with GroupName (left name, "=>", right name, unless the creator gives one).
struct UnitPair {
  UnitPair() = default;
  UnitPair(TUnitData left, TUnitData right)
      : units{std::move(left), std::move(right)},
        name(units[Left].sUnitName + "=>" + units[Right].sUnitName) {}
  UnitPair(std::string pairName, TUnitData left, TUnitData right)
      : units{std::move(left), std::move(right)}, name(std::move(pairName)) {}
  explicit UnitPair(const TUnitGroup& group)
      : units{*group.UnitS, *group.UnitD}, name(group.GroupName) {}

  const TUnitData& operator[](Side side) const noexcept { return units[side]; }
  TUnitData& operator[](Side side) noexcept { return units[side]; }

  BySide<TUnitData> units;
  std::string name;
};

// Both sides stand for one unit: the host keys rows by unit code, so comparing them finds every
// sheet "identical", and deleting one side deletes the only copy.
inline bool isSelfPair(const TUnitData& left, const TUnitData& right) noexcept {
  return left.sUnitCode == right.sUnitCode;
}
inline bool isSelfPair(const UnitPair& pair) noexcept {
  return isSelfPair(pair[Left], pair[Right]);
}
inline bool isSelfPair(const TUnitGroup& group) noexcept {
  return isSelfPair(*group.UnitS, *group.UnitD);
}

// A pair is known by its name and its units' codes, as the deletion tells pairs apart.
inline bool samePair(const UnitPair& a, const UnitPair& b) {
  return a.name == b.name && a[Left].sUnitCode == b[Left].sUnitCode &&
         a[Right].sUnitCode == b[Right].sUnitCode;
}

}  // namespace dupsweep
