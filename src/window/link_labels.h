// The two link labels, Label3 and Label5: they have no window of their own
// to take the mouse, so form1 finds out which label the pointer is over and
// turns a press and release over the same link into a click.
#pragma once

#include <windows.h>

#include <optional>

#include "app/form_view.h"
#include "window/form_controls.h"

namespace quenzil {

class LinkLabels {
 public:
  explicit LinkLabels(const FormControls& controls);

  enum class Over { kLabel3, kLabel5, kOtherLabel, kSurface };
  // What the pointer is over. Label3 is tested first as it lies over
  // Label2; the other labels and the frame let the mouse through to form1
  // without being the bare surface.
  Over At(POINT client_point) const;

  // A left-button press or release; the link clicked, if any. A double
  // click reaches form1 as its own message and opens nothing more.
  std::optional<LinkLabel> OnLeftButton(POINT client_point, bool down);

 private:
  const FormControls& controls_;
  std::optional<LinkLabel> pressed_;
};

}  // namespace quenzil
