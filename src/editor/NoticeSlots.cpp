// The slot table and the byte-preserving notice values.
#include "editor/NoticeSlots.h"

#include "editor/SettingsText.h"

namespace orvex {

const std::array<NoticeSlotInfo, kNoticeSlotCount> kNoticeSlots = {{
    {"List signature", "Signature", "Signature", false},
    {"Subsribe confirmation request", "Subscribe confirmation", "Subscribe confirmation", true},
    {"Successfully subscribed", "Subscribe successfull", "Subscribe successfull", true},
    {"Successfully unsubscribed", "Unsubscribe successfull", "unSubscribe successfull", true},
    {"Digest mode is turned on", "Digest on", "Digest on", true},
    {"Digest mode is turned off", "Digest off", "Digest off", true},
    {"No permission to post to this list", "Nonsubscriber", "Nonsubscriber", true},
    {"Message to moderator (non-subsriber posted a message)", "NS-Moderate", "NS-Moderate", true},
    {"Message to moderator (subsriber posted a message to moderated list)", "Moderate", "Moderate",
     true},
    {"Digest preamble", "Digest", "Digest", true},
    {"Digest message", "Digest message", "Digest message", false},
    {"Paused", "Paused", "Paused", true},
    {"Resumed", "Resumed", "Resumed", true},
    {"Subscription request to moderator", "Subscription request", "Subscription request", true},
    {"Unsubscribe confirmation request", "Unsubscribe confirmation", "Unsubscribe confirmation",
     true},
    {"Paused because mail bounces", "Bounce pause", "Bounce pause", true},
    {"Post rejected by the moderator", "Post rejected", "Post rejected", true},
}};

// Signature, Subscribe confirmation, Subscribe successfull, unSubscribe successfull, Digest on,
// Digest off, Paused, Resumed, Nonsubscriber, Moderate, NS-Moderate, Digest, Digest message,
// Subscription request, Unsubscribe confirmation, Bounce pause, Post rejected.
const std::array<int, kNoticeSlotCount> kNoticeWriteOrder = {0, 1, 2, 3,  4,  5,  11, 12, 6,
                                                             8, 7, 9, 10, 13, 14, 15, 16};

NoticeValue::NoticeValue(std::string bytes, bool mayBeCut)
    : bytes_(std::move(bytes)), mayBeCut_(mayBeCut) {
  shown_ = DecodeText(bytes_);
  shown_.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

void NoticeValue::SetBaseline(const QString& text) {
  if (!edited_) shown_ = text;
}

std::string NoticeValue::Bytes() const {
  if (!edited_ || *edited_ == shown_) return bytes_;
  QString text = *edited_;
  text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return EncodeText(text, EncodingOf(bytes_));
}

}  // namespace orvex
