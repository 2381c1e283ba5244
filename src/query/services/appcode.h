// The AppCode market API ("全国快递物流查询", GET /kdi behind a cloud API
// gateway): the query, with or without a courier (it finds the courier
// itself), reading its answer and the gateway's refusals, and what they
// mean. Portable.
#pragma once

#include <string>
#include <string_view>

#include "query/services/service.h"
#include "web/fetch.h"

namespace quenzil {

struct AppCodeAccount {
  std::string code;  // the AppCode: a secret, it goes into one header only
  bool complete() const { return !code.empty(); }
  bool operator==(const AppCodeAccount&) const = default;
};

class AppCodeService final : public TrackingService {
 public:
  static constexpr std::string_view kKey = "appcode";
  AppCodeService(std::string host, FetchLimits limits, AppCodeAccount account)
      : host_(std::move(host)), limits_(limits), account_(std::move(account)) {}
  std::string_view key() const override { return kKey; }
  std::string_view name() const override { return "AppCode"; }
  bool keyed() const override { return true; }
  bool Serves(std::string_view courier) const override;
  bool FindsCourier() const override { return true; }
  FetchRequest Query(const ServiceQuery& query) const override;
  ServiceAnswer Read(const FetchOutcome& outcome) const override;

 private:
  std::string host_;
  FetchLimits limits_;
  AppCodeAccount account_;
};

}  // namespace quenzil
