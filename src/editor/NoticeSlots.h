// The 17 notice slots of the templates page: which section of maillist.ini each edits, and the
// text of one slot as it moves between the file's bytes and the page's fields.
#pragma once

#include <QString>
#include <array>
#include <optional>
#include <string>

namespace orvex {

struct NoticeSlotInfo {
  const char* entry;         // the template selector's entry
  const char* readSection;   // the section read on loading
  const char* writeSection;  // its spelling when written
  bool hasSubject;
};

inline constexpr int kNoticeSlotCount = 17;
extern const std::array<NoticeSlotInfo, kNoticeSlotCount> kNoticeSlots;
// Slot indices in the order their sections are written.
extern const std::array<int, kNoticeSlotCount> kNoticeWriteOrder;

// One stored value of a slot (its subject or its text) and the operator's edit of it. Texts keep
// CR LF line ends as bytes and show plain line feeds.
class NoticeValue {
 public:
  NoticeValue() = default;
  // `mayBeCut`: the value read was as long as a read can give, so the file may hold more.
  explicit NoticeValue(std::string bytes, bool mayBeCut = false);

  // What the page shows while nothing was edited.
  const QString& Shown() const { return shown_; }
  // The page showed `text` for the stored bytes (a widget may normalise a few characters).
  void SetBaseline(const QString& text);
  void SetEdited(const QString& text) { edited_ = text; }
  bool IsEdited() const { return edited_.has_value(); }
  QString Current() const { return edited_ ? *edited_ : shown_; }
  // The bytes to write: the stored ones unless the operator's text differs from what was shown.
  std::string Bytes() const;
  // Whether the value must be left as the file holds it: writing back what was read of a value
  // that was cut on reading would lose its end.
  bool KeepStored() const { return mayBeCut_ && (!edited_ || *edited_ == shown_); }

 private:
  std::string bytes_;
  QString shown_;
  std::optional<QString> edited_;
  bool mayBeCut_ = false;
};

struct NoticeSlot {
  NoticeValue subject;
  NoticeValue text;
};

}  // namespace orvex
