#include "app/settings.h"

namespace quenzil {

MonthCount AfterOneMore(MonthCount stored, std::uint32_t current_month) {
  if (stored.month != current_month) return {current_month, 1};
  if (stored.count < UINT32_MAX) ++stored.count;
  return stored;
}

std::uint32_t CountIn(MonthCount stored, std::uint32_t current_month) {
  return stored.month == current_month ? stored.count : 0;
}

}  // namespace quenzil
