// The Orvex service: start-up, then the main loop until a stop is requested.
#include <sys/stat.h>

#include <cstdio>

#include "platform/DateTime.h"
#include "platform/FaultInjection.h"
#include "platform/ProgramDirectory.h"
#include "service/Service.h"

int main(int /*argc*/, char** argv) {
  // Whatever starts the service, no file it makes is readable by others (notices and queue files
  // carry members' passwords and confirmation codes).
  ::umask(077);
  // Tests make the real program meet a full disk or a read-only folder through this seam; it is
  // empty unless ORVEX_FILE_FAULTS is set.
  if (!orvex::LoadFileFaultsFromEnvironment()) {
    std::fputs("ORVEX_FILE_FAULTS cannot be read\n", stderr);
    return 2;
  }
  orvex::UseUserLocaleForDatesAndCharacters();
  return orvex::RunService(orvex::ProgramDirectory(argv[0]), ORVEX_VERSION_TEXT);
}
