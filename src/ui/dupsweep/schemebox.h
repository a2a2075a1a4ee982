#pragma once
// SchemeBox: the scheme combo box cmbPrecept, a list of the saved schemes with an edit field for
// a scheme's name. Picking a name from the list (mouse or arrow keys) is a pick; typing a name is
// none. Qt's editable combo box takes the end of typing a listed name (Enter, or leaving the
// field, as a click on cmdSave does) for a pick of that entry, which would replace the pairs the
// operator is about to save: the box hears the end of typing before the combo box and after it,
// ignores the pick the combo box makes, and puts back the entry chosen before.

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;

namespace dupsweep {

class SchemeBox {
 public:
  // Gives `box` its edit field; `picked` runs for every pick of the operator's.
  SchemeBox(QComboBox& box, std::function<void()> picked);

  // Lists `names` in their order and chooses none: the name starts empty.
  void fill(const std::vector<std::string>& names);
  // The name chosen or typed.
  std::string name() const;
  // Lists `name` at the end unless it is listed already (letter case ignored, as the combo box's
  // exact-match search has it), keeping the chosen entry and the name as typed.
  void addName(const std::string& name);
  // Removes the chosen entry (found by its position, whatever name was typed), leaving none
  // chosen and the typed name shown.
  void removeChosen();

 private:
  // While the edit field reports the end of typing: whether it does, and the entry chosen before.
  struct Typing {
    bool ends = false;
    int chosenBefore = -1;
  };
  QComboBox& box_;
  std::shared_ptr<Typing> typing_ = std::make_shared<Typing>();
};

}  // namespace dupsweep
