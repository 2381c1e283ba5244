#include "window/link_labels.h"

namespace quenzil {
namespace {

const std::size_t kLabel3Row = RowOfName("Label3");
const std::size_t kLabel5Row = RowOfName("Label5");

}  // namespace

LinkLabels::LinkLabels(const FormControls& controls) : controls_(controls) {}

LinkLabels::Over LinkLabels::At(POINT client_point) const {
  if (controls_.PointOnChild(kLabel3Row, client_point)) return Over::kLabel3;
  if (controls_.PointOnChild(kLabel5Row, client_point)) return Over::kLabel5;
  const auto& table = ControlTable();
  for (std::size_t row = 0; row < table.size(); ++row) {
    const ControlKind kind = table[row].kind;
    if ((kind == ControlKind::kLabel || kind == ControlKind::kFrame) && controls_.PointOnChild(row, client_point)) {
      return Over::kOtherLabel;
    }
  }
  return Over::kSurface;
}

std::optional<LinkLabel> LinkLabels::OnLeftButton(POINT client_point, bool down) {
  std::optional<LinkLabel> link;
  switch (At(client_point)) {
    case Over::kLabel3: link = LinkLabel::kLabel3; break;
    case Over::kLabel5: link = LinkLabel::kLabel5; break;
    default: break;
  }
  if (down) {
    pressed_ = link;
    return std::nullopt;
  }
  const bool clicked = link.has_value() && link == pressed_;
  pressed_.reset();
  return clicked ? link : std::nullopt;
}

}  // namespace quenzil
