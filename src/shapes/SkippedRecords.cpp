#include "shapes/SkippedRecords.h"

#include "base/Paths.h"
#include "lang/LangString.h"

namespace kestrune {

namespace {

constexpr const char* kMsgSkipped = "#20110000:%lld records of \"%s\" were not read: %s.";
constexpr const char* kMsgTailLost =
    "#20110007:Reading \"%s\" stopped before the end of the file: %lld records were not read (%s). The records "
    "before that point are shown.";
// One text per SkipReason, in its order.
constexpr const char* kReasonTexts[kSkipReasonCount] = {
    "#20110001:%lld with unusable coordinates",
    "#20110002:%lld at position (0, 0)",
    "#20110003:%lld whose counts run past the record or the file",
    "#20110004:%lld with a broken list of parts",
    "#20110005:%lld after bytes that are no record",
    "#20110006:%lld lost when the file got shorter while it was read",
};

// "3 with unusable coordinates, 1 at position (0, 0)".
std::string ReasonList(const ShapeFileReader::LoadStats& stats) {
  std::string list;
  for (int r = 0; r < kSkipReasonCount; ++r) {
    if (stats.skipped[r] <= 0) continue;
    if (!list.empty()) list += ", ";
    list += LangFormat(kReasonTexts[r], static_cast<long long>(stats.skipped[r]));
  }
  return list;
}

}  // namespace

std::string SkippedRecordsText(const ShapeFileReader::LoadStats& stats, const std::string& fileName) {
  const int64_t total = stats.SkippedTotal();
  if (total <= 0) return {};
  return LangFormat(kMsgSkipped, static_cast<long long>(total), fileName.c_str(), ReasonList(stats).c_str());
}

Error SkippedRecordsNotice(const ShapeFileReader::LoadStats& stats, const std::string& path,
                           std::string& statusText) {
  statusText.clear();
  const int64_t total = stats.SkippedTotal();
  if (total <= 0) return {};
  if (!stats.tailLost) {
    statusText = SkippedRecordsText(stats, FileNameOf(path));
    return {};
  }
  Error notice;
  notice.text = LangFormat(kMsgTailLost, FileNameOf(path).c_str(), static_cast<long long>(total),
                           ReasonList(stats).c_str());
  notice.caption = path;
  notice.file = path;
  notice.id = TextIdOf(kMsgTailLost);
  notice.icon = MessageIcon::Warning;
  return notice;
}

}  // namespace kestrune
