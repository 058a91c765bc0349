// The preset table. The guide's table gives the source of every value.
#include "store/ProviderPresets.h"

#include "platform/Text.h"
#include "store/IniFile.h"

namespace orvex {

const std::vector<ProviderPreset>& ProviderPresets() {
  static const std::vector<ProviderPreset> presets = {
      {"gmail", "Gmail", "pop.gmail.com", 995, 2, "smtp.gmail.com", 465, 2, "oauth2", "google", 2,
       100, 500},
      {"outlook", "Outlook.com", "outlook.office365.com", 995, 2, "smtp-mail.outlook.com", 587, 1,
       "oauth2", "microsoft", 2, 100, 300},
      {"microsoft365", "Microsoft 365", "outlook.office365.com", 995, 2, "smtp.office365.com", 587,
       1, "oauth2", "microsoft", 2, 500, 10000},
      {"yahoo", "Yahoo Mail", "pop.mail.yahoo.com", 995, 2, "smtp.mail.yahoo.com", 465, 2,
       "password", "", 2, 100, 500},
      {"icloud", "iCloud Mail", "", 0, 0, "smtp.mail.me.com", 587, 1, "password", "", 2, 500, 1000},
      {"fastmail", "Fastmail", "pop.fastmail.com", 995, 2, "smtp.fastmail.com", 465, 2, "password",
       "", 2, 0, 0},
      {"gmx", "GMX", "pop.gmx.net", 995, 2, "mail.gmx.net", 587, 1, "password", "", 2, 0, 0},
  };
  return presets;
}

const ProviderPreset* FindProviderPreset(std::string_view name) {
  for (const ProviderPreset& preset : ProviderPresets())
    if (EqualsIgnoreCase(preset.name, name)) return &preset;
  return nullptr;
}

void ApplyProviderPreset(IniFile& settings, const ProviderPreset& preset,
                         const std::string& account) {
  const char* const general = "General";
  settings.WriteString(general, "SMTPHOST", preset.smtpHost);
  settings.WriteInteger(general, "SMTPPort", preset.smtpPort);
  settings.WriteInteger(general, "SmtpSecurity", preset.smtpSecurity);
  settings.WriteString(general, "SMTPUser", account);
  settings.WriteString(general, "SmtpAuthMethod", preset.authMethod);
  settings.WriteString(general, "From", account);
  if (*preset.pop3Host != '\0') {
    settings.WriteInteger(general, "Pop3Count", 1);
    settings.WriteString(general, "Pop3Host1", preset.pop3Host);
    settings.WriteInteger(general, "Pop3Port1", preset.pop3Port);
    settings.WriteInteger(general, "Pop3Security1", preset.pop3Security);
    settings.WriteString(general, "Name1", account);
    settings.WriteString(general, "Pop3AuthMethod1", preset.authMethod);
  } else {
    settings.WriteInteger(general, "Pop3Count", 0);
  }
  if (*preset.oauthProvider != '\0')
    settings.WriteString(general, "OAuthProvider", preset.oauthProvider);
  settings.WriteInteger(general, "FromRewrite", preset.fromRewrite);
  settings.WriteInteger(general, "MaxRecipients", preset.maxRecipients);
  settings.WriteInteger(general, "MaxRecipientsPerDay", preset.maxRecipientsPerDay);
}

}  // namespace orvex
