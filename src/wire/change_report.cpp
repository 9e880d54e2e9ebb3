#include "wire/change_report.h"

#include <map>

#include "wire/client_text.h"
#include "wire/packet.h"
#include "wire/path_limits.h"
#include "wire/scalar_sax.h"

namespace kq {

namespace {

// ChangeSax keeps the scalar members of the first object of the top-level
// "changes" array (a later member of the same name wins).
struct ChangeSax : ScalarSax {
  bool number_float(number_float_t, const string_t&) override { return scalar(""); }
  std::map<std::string, std::string> members;
  std::string key_;
  int depth = 0;
  bool topIsObject = false;
  bool inChanges = false;    // inside the top-level "changes" array
  bool sawChanges = false;   // "changes" held an array
  int elements = 0;          // elements of the changes array begun so far
  bool firstIsObject = false;

  bool open(bool object) {
    if (depth == 0) topIsObject = object;
    if (depth == 1 && key_ == "changes" && !object) {
      inChanges = true;
      sawChanges = true;
      elements = 0;
      firstIsObject = false;
      members.clear();
    } else if (depth == 2 && inChanges && ++elements == 1) {
      firstIsObject = object;
    } else if (depth == 3 && inChanges && elements == 1 && firstIsObject) {
      members[key_] = "";  // not a scalar: unusable as text
    }
    ++depth;
    return true;
  }
  bool close() {
    --depth;
    if (depth == 1) inChanges = false;
    return true;
  }
  bool start_object(std::size_t) override { return open(true); }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(false); }
  bool end_array() override { return close(); }
  bool key(string_t& k) override {
    key_ = std::move(k);
    return true;
  }
  bool scalar(std::string v) override {
    if (depth == 1 && key_ == "changes") {
      sawChanges = false;  // "changes" holds no array
      members.clear();
    } else if (depth == 2 && inChanges) {
      ++elements;
    } else if (depth == 3 && inChanges && elements == 1 && firstIsObject) {
      members[key_] = std::move(v);
    }
    return true;
  }
  std::string member(const char* name) const {
    auto it = members.find(name);
    return it == members.end() ? std::string() : it->second;
  }
  bool has(const char* name) const { return members.count(name) != 0; }
  bool usable() const { return topIsObject && sawChanges && elements > 0 && firstIsObject; }
};

}  // namespace

std::string changeReportJson(const std::string& date, const std::string& time, const ChangeRecord& change) {
  std::string json = "{\"date\":\"" + date + "\",\"time\":\"" + time +
                     "\",\"changes\":[{\"filepath\":\"" + change.filepath;
  if (!change.newname.empty()) json += "\",\"newname\":\"" + change.newname;
  json += "\",\"date\":\"" + date + "\",\"time\":\"" + time + "\",\"mdate\":\"" + "\",\"mtime\":\"";
  if (change.newname.empty()) {
    json += "\",\"size\":\"" + std::to_string(change.size) + "\",\"changetype\":\"" + change.changetype;
  } else {
    json += "\",\"size\":\"\",\"changetype\":\"" + change.changetype;
  }
  return json + "\"}]}";
}

std::string encodeChangeReport(const std::string& date, const std::string& time, ChangeRecord change,
                               const CodePage& page) {
  change.filepath = escapeJsonName(change.filepath, page);
  change.newname = escapeJsonName(change.newname, page);
  return completeEscapes(escapeNonAscii(changeReportJson(date, time, change), page));
}

std::optional<ReportedChange> parseChangeReport(std::string_view json, const CodePage& page, std::string* refusal) {
  ChangeSax sax;
  if (!nlohmann::json::sax_parse(json, &sax) || !sax.usable()) return std::nullopt;
  ReportedChange report;
  report.changetype = sax.member("changetype");
  std::string rawPath = clientTextToUtf8(sax.member("filepath"), page);
  if (report.changetype.empty()) return report;
  std::string problem = pathLimitProblem(rawPath);
  if (sax.has("newname")) report.newname = clientTextToUtf8(sax.member("newname"), page);
  if (problem.empty() && report.newname.size() > kMaxNameBytes) problem = pathLimitProblem("/" + report.newname);
  if (!problem.empty()) {
    if (refusal == nullptr) return std::nullopt;
    report.path = rawPath;
    *refusal = problem;
    return report;
  }
  auto path = normalizeClientPath(rawPath);
  if (!path) return std::nullopt;
  report.path = *path;
  report.folder = rawPath.back() == '/';
  if (!parseInt64(sax.member("size"), report.size)) report.size = report.changetype == "RENAMED" ? 0 : -1;
  return report;
}

}  // namespace kq
