// Age-based purge of the pending and signature stores.
#include "processing/Retention.h"

#include <charconv>
#include <string>

namespace orvex {
namespace {

void Purge(NameValueList& store, const LocalDateTime& time, long long days) {
  const double now = ToDays(time);
  const auto today = static_cast<long long>(DayNumber(time));
  std::size_t index = 0;
  while (index < store.Count()) {
    const std::string stampText = CommaItem(store.ValueAt(index), 0);
    long long stamp = today;
    long long parsed = 0;
    const char* first = stampText.data();
    const char* last = first + stampText.size();
    if (!stampText.empty() && *first == '+') ++first;
    const auto result = std::from_chars(first, last, parsed);
    if (!stampText.empty() && result.ec == std::errc() && result.ptr == last) stamp = parsed;
    if (now - static_cast<double>(stamp) > static_cast<double>(days))
      store.Delete(index);
    else
      ++index;
  }
}

}  // namespace

void PurgeOlderThan(NameValueList& store, const LocalDateTime& now, long long days) {
  Purge(store, now, days);
}

void PurgeExpiredEntries(TAccount& list, const LocalDateTime& now) {
  const long long days = list.Config().ReadInteger("General", "Days", 7);
  Purge(list.Pending(), now, days);
  Purge(list.Signatures(), now, days);
}

}  // namespace orvex
