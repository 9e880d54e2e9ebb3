#pragma once
// PgVersionList lists one contract's kept versions in kqsyncd's PostgreSQL
// database (the files themselves stay in a folder every node reaches).
#include <string>

#include "pg_connection.h"
#include "versions.h"

namespace kqs {

class PgVersionList : public VersionList {
 public:
  PgVersionList(const std::string& url, std::string contract);
  KeptVersion record(const std::string& path, std::int64_t at,
                     const std::function<void(KeptVersion&)>& fill) override;
  std::vector<KeptVersion> below(const std::string& path) override;
  std::optional<KeptVersion> oldestAfter(const std::string& path, std::int64_t at) override;
  std::optional<KeptVersion> latest(const std::string& path, std::int64_t at) override;
  std::vector<KeptVersion> olderThan(std::int64_t before) override;
  void drop(std::int64_t id) override;

 private:
  std::vector<KeptVersion> select(const std::string& condition, const std::vector<std::optional<std::string>>& params);
  PgConnection db_;
  std::string contract_;
};

}  // namespace kqs
