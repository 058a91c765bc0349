// Notice templates, placeholders and the messages the service writes itself.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/DateTime.h"
#include "processing/Context.h"
#include "store/Account.h"

namespace orvex {

class TMsg;

// Name=value pairs for placeholders; names compare without regard to case, a later Set of the
// same name replaces the value.
class NoticeVariables {
 public:
  void Set(std::string_view name, std::string value);
  // Empty when there is no variable of that name.
  std::string Get(std::string_view name) const;

  // `Password` (the address's subscriber password, empty when it is not subscribed) and `Address`.
  void AddSubscriber(const TAccount& list, std::string_view address);
  // `Sender`, `Subject`, `Date` and `Text` of a received message.
  void AddMessage(const TMsg& msg);
  // `Listname`, `Listaddress`, `controladdress` and `Moderator` from section General.
  void AddList(const TAccount& list);

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
};

// The list's control address: `ControlAddress`, or `Address` when the key is absent.
std::string ControlAddress(const TAccount& list);
std::string ListAddress(const TAccount& list);

std::string TemplateText(const TAccount& list, std::string_view section);
std::string TemplateSubject(const TAccount& list, std::string_view section);

// Adds the list variables to `variables`, then replaces every "{name}" with the variable's value
// (nothing for an unknown name, also for "{}"). A "{" without a "}" after it is dropped and the
// rest is kept as it stands; inserted values are not scanned again.
std::string SubstitutePlaceholders(const TAccount& list, std::string_view text,
                                   NoticeVariables variables);
std::string SignatureText(const TAccount& list);

// "Mon, 07 Dec 2026 03:33:54 +0100"; "GMT" instead of the offset when the offset is zero.
std::string FormatMailDate(const LocalDateTime& time);

// Who sends: the list address (digests), the control address (answers), or the control address
// writing to the moderator of its own accord (moderation mail, "Auto-Submitted: auto-generated").
enum class NoticeSender { ListAddress, ControlAddress, Moderation };

// The header block of every composed message (seven fields and two empty lines, each line ending
// with CR LF) followed by `body`, which carries its own line ends.
std::string ComposeNotice(const ProcessingContext& context, std::string_view to,
                          std::string_view subject, std::string_view contentType,
                          std::string_view body, NoticeSender sender);

// Queues a plain-text notice from template `section` for `recipient` as a private message file:
// the recipient line, the header block, the template text, the signature, an empty last line.
// A template whose subject is empty takes `defaultSubject` (a list made before the template
// existed must still send a notice that a plain reply can answer).
void QueuePrivateNotice(ProcessingContext& context, std::string_view section,
                        const NoticeVariables& variables, std::string_view recipient,
                        std::string_view defaultSubject = {});

}  // namespace orvex
