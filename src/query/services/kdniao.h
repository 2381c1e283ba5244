// 快递鸟 (kdniao): the signed form POST of its 即时查询 (RequestType 1002,
// the free tier, or 8001, the paid one with finer states), its courier
// detection (2002), reading their answers, and what its answers mean.
// Portable; MD5 and Base64 come from the platform.
#pragma once

#include <string>
#include <string_view>

#include "query/services/service.h"
#include "web/fetch.h"

namespace quenzil {

struct KdniaoAccount {
  std::string id;   // EBusinessID
  std::string key;  // ApiKey: a secret, it goes into the signature only
  bool paid = false;  // 8001 instead of the free 1002
  bool complete() const { return !id.empty() && !key.empty(); }
  bool operator==(const KdniaoAccount&) const = default;
};

// base64 of the 32 lower-case hex characters of MD5(request_data + key),
// before the form's percent-encoding.
std::string KdniaoSign(std::string_view request_data, std::string_view key);

// {"OrderCode":"","ShipperCode":"YTO","LogisticCode":"…"}, with the
// phone's digits as "CustomerName" only for the couriers that ask for them.
std::string KdniaoRequestData(std::string_view shipper_code, std::string_view number, std::string_view phone);

class KdniaoService final : public TrackingService {
 public:
  static constexpr std::string_view kKey = "kdniao";
  KdniaoService(std::string host, FetchLimits limits, KdniaoAccount account)
      : host_(std::move(host)), limits_(limits), account_(std::move(account)) {}
  std::string_view key() const override { return kKey; }
  std::string_view name() const override { return "快递鸟"; }
  bool keyed() const override { return true; }
  // The couriers of its column, but on the free tier those it serves
  // through other products only.
  bool Serves(std::string_view courier) const override;
  FetchRequest Query(const ServiceQuery& query) const override;
  ServiceAnswer Read(const FetchOutcome& outcome) const override;
  bool OffersDetection() const override { return true; }
  FetchRequest Detect(std::string_view number) const override;
  Detection ReadDetection(const FetchOutcome& outcome) const override;

 private:
  FetchRequest Form(std::string_view request_type, const std::string& request_data) const;
  std::string host_;
  FetchLimits limits_;
  KdniaoAccount account_;
};

}  // namespace quenzil
