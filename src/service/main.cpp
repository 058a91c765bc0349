// The Orvex service: start-up, then the main loop until a stop is requested.
#include "platform/DateTime.h"
#include "platform/ProgramDirectory.h"
#include "service/Service.h"

int main(int /*argc*/, char** argv) {
  orvex::UseUserLocaleForDatesAndCharacters();
  return orvex::RunService(orvex::ProgramDirectory(argv[0]), ORVEX_VERSION_TEXT);
}
