// The dashboard's files, turned into byte arrays at build time by
// dashboard/embed.cmake: the command carries them, nothing is installed.
#pragma once

#include <cstddef>

namespace sysmon_cli {

struct DashboardAsset {
  const char *path;          // "/", "/dashboard.js", ...
  const char *content_type;  // with its charset
  const unsigned char *data;
  std::size_t size;
};

extern const DashboardAsset kDashboardAssets[];
extern const std::size_t kDashboardAssetCount;

}  // namespace sysmon_cli
