// Mail commands at the control address and the subscription workflow.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/SecureRandom.h"
#include "processing/Context.h"

namespace orvex {

class TMsg;

enum class CommandKind {
  None,
  Subscribe,
  Unsubscribe,
  DigestOn,
  DigestOff,
  Pause,
  Resume,
  Confirm,
  ConfirmUnsubscribe
};

struct Command {
  CommandKind kind = CommandKind::None;
  std::string argument;  // the password, or the confirmation code
};

// Whether "unsubscribe" without a password is confirmed by a code (so that the unsubscribe
// buttons of mail programs work); on while the list sends list header fields.
enum class UnsubscribeConfirmation { Off, On };

// Recognises the command in a subject line (the tests run in a fixed order; the first that holds
// decides). Command words in any letter case; arguments exactly as written. With unsubscribe
// confirmation on, "unsubscribe-confirm-" and a code anywhere in the subject comes first.
Command RecognizeCommand(std::string_view subject,
                         UnsubscribeConfirmation confirmation = UnsubscribeConfirmation::Off);

// True when the subject was a command (whether or not it succeeded). Failed commands are silent.
// A moderation answer ("approve <token>", "reject <token>") is looked for first.
bool ParseCommand(ProcessingContext& context, TMsg& msg);

void Subscribe(ProcessingContext& context, std::string_view address, TMsg& msg);
// `msg` may be null (subscription without a confirming message).
enum class CheckCode { No, Yes };
void ConfirmSubscription(ProcessingContext& context, std::string_view address,
                         std::string_view code, CheckCode check, const TMsg* msg);
// With unsubscribe confirmation on, an empty password from a subscriber who has one sends the
// "Unsubscribe confirmation" notice with a code instead.
void Unsubscribe(ProcessingContext& context, std::string_view address, std::string_view password,
                 const TMsg& msg);
// Removes the subscriber when `code` is the one issued to that address by "unsubscribe".
void ConfirmUnsubscription(ProcessingContext& context, std::string_view address,
                           std::string_view code, const TMsg& msg);
enum class Switch { Off, On };
void SetDigestMode(ProcessingContext& context, std::string_view address, std::string_view password,
                   const TMsg& msg, Switch state);
void SetPaused(ProcessingContext& context, std::string_view address, std::string_view password,
               const TMsg& msg, Switch state);

// 12 upper-case hexadecimal digits of (r + 2000) mod 2^32 for a secure random r; always begins
// with "0000".
std::string MakeConfirmationCode(RandomSource& random);
// 10 letters from "a" to "y".
std::string RandomLetters(RandomSource& random);

}  // namespace orvex
