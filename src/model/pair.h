#pragma once
// A reporting unit, and the pair of units every part of the component speaks of: the left unit
// (the first of a pair, key suffix "S" in scheme files, the left grid of the viewer) and the right
// one ("D", the right grid). Whatever is kept per side is kept in a BySide array indexed by Side.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace dupsweep {

// One reporting unit, as loaded into the unit tree or from a scheme file.
struct TUnitData {
  std::int32_t nUnitID = 0;
  std::string sUnitCode;
  std::int32_t nLevel = 0;
  std::string sUnitName;
};

// A pair of units to compare. Refers to the two units (their owners are the tree nodes or the
// scheme that loaded them); `GroupName` is composed once, at construction.
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

// Two units by value, with the pair's name (GroupName: the left unit's name, "=>", the right
// one's, unless the creator gives another).
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

// True when both sides stand for one unit. The host keys every row by unit code, so two records
// with the same code are the same data: comparing them finds every sheet "identical", and
// deleting one side deletes the only copy.
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
