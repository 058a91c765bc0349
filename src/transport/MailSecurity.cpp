// Reading the security setting of a mail server connection.
#include "transport/MailSecurity.h"

namespace orvex {

MailSecurity SecuritySetting(long long value) {
  switch (value) {
    case 0:
      return MailSecurity::None;
    case 1:
      return MailSecurity::StartTls;
    case 2:
      return MailSecurity::ImplicitTls;
    default:
      return MailSecurity::Unknown;
  }
}

}  // namespace orvex
