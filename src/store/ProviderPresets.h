// The built-in servers of the common mailbox providers: what `orvex-admin list create --provider`
// and the editor's Provider choice write into a new list's settings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvex {

class IniFile;

struct ProviderPreset {
  const char* name;      // as given to --provider
  const char* title;     // as the editor shows it
  const char* pop3Host;  // empty: the provider offers no POP3 (Pop3Count 0)
  int pop3Port;
  int pop3Security;  // Pop3Security<n>: 0 plain, 1 STLS, 2 implicit TLS
  const char* smtpHost;
  int smtpPort;
  int smtpSecurity;               // SmtpSecurity
  const char* authMethod;         // "password" or "oauth2"
  const char* oauthProvider;      // OAuthProvider with oauth2; empty otherwise
  int fromRewrite;                // FromRewrite
  long long maxRecipients;        // MaxRecipients; 0 where none is published
  long long maxRecipientsPerDay;  // MaxRecipientsPerDay; 0 where none is published
};

const std::vector<ProviderPreset>& ProviderPresets();
// Nothing (nullptr) for an unknown name; names compare without regard to letter case.
const ProviderPreset* FindProviderPreset(std::string_view name);

// Writes the preset's servers, security, auth method, OAuth provider, FromRewrite and limits into
// section General of `settings`, with `account` (the mailbox's address) as SMTPUser, as the user
// name of mailbox 1 and as the envelope sender (From): a provider's relay takes mail only from
// the account itself.
void ApplyProviderPreset(IniFile& settings, const ProviderPreset& preset,
                         const std::string& account);

}  // namespace orvex
