// The commands of orvex-admin. Each prints its result on `out` (a table, or JSON with --json) and
// returns the exit status; failures throw AdminError.
#pragma once

#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "admin/Session.h"

namespace orvex::admin {

int Lists(const Session& session, std::ostream& out);
int Status(const Session& session, const std::optional<std::string>& list, std::ostream& out);

struct CreateOptions {
  std::string directoryName, name, address, control, moderator;
  std::optional<std::string> from;  // the list address when absent
  // A provider preset (store/ProviderPresets.h): its servers, with the list address as the
  // account and the envelope sender.
  std::optional<std::string> provider;
};
int ListCreate(const Session& session, const CreateOptions& options, std::ostream& out);
int ListShow(const Session& session, const std::string& list, std::ostream& out);
// `value` is read from `in` (one line) when `passwordStdin`; password keys accept no other way.
int ListSet(const Session& session, const std::string& list, const std::string& key,
            const std::optional<std::string>& value, bool passwordStdin, std::istream& in,
            std::ostream& out);
int ListDelete(const Session& session, const std::string& list, bool yes, std::ostream& out);

int Members(const Session& session, const std::string& list, std::ostream& out);
struct MemberFlags {
  std::optional<bool> digest, paused;
};
int MemberAdd(const Session& session, const std::string& list, const std::string& address,
              const MemberFlags& flags, bool welcome, std::ostream& out);
int MemberRemove(const Session& session, const std::string& list, const std::string& address,
                 std::ostream& out);
int MemberSet(const Session& session, const std::string& list, const std::string& address,
              const MemberFlags& flags, std::ostream& out);
// The text of an import: `file`, or standard input for "-"; bounded while read. Read before
// orvex-admin takes on the program directory owner's identity, since the file is the caller's.
std::string ReadImportFile(const std::string& file, std::istream& in);
int MembersImport(const Session& session, const std::string& list, const std::string& text,
                  bool welcome, std::ostream& out);
int MembersExport(const Session& session, const std::string& list, std::ostream& out);

int Failed(const Session& session, const std::string& list, std::ostream& out);
// `to` ("inbox" or "outbox") is needed only for a file whose origin was not recorded.
int FailedRetry(const Session& session, const std::string& list, const std::string& file,
                const std::optional<std::string>& to, std::ostream& out);

// The messages waiting for the moderator: token, kind, sender, subject, date, size, expiry.
int Held(const Session& session, const std::string& list, std::ostream& out);
// Approves or rejects one held message under the list's lock, with the effects of the
// moderator's answer by mail; the outputs go to Outbox/ for the service to deliver.
int HeldDecide(const Session& session, const std::string& list, const std::string& token,
               bool approve, const std::optional<std::string>& reason, std::ostream& out);

// Reads one password (one line, at most 4096 characters) and prints its enciphered text.
int Passwd(bool json, std::istream& in, std::ostream& out);

// One line of a password from `in`: without its line end; prompts without echo on a terminal.
std::string ReadPasswordLine(std::istream& in, const char* prompt);

}  // namespace orvex::admin
