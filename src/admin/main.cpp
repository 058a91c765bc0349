// orvex-admin: the lists of a program directory from a shell, safely beside the running service.
#include <sys/stat.h>

#include <iostream>

#include "admin/Cli.h"
#include "platform/DateTime.h"
#include "platform/ProgramDirectory.h"

int main(int argc, char** argv) {
  // Settings and stores hold passwords; nothing orvex-admin makes is readable by others.
  ::umask(077);
  orvex::UseUserLocaleForDatesAndCharacters();
  std::ios::sync_with_stdio(false);
  const int status = orvex::admin::RunAdmin(argc, argv, orvex::ProgramDirectory(argv[0]), std::cin,
                                            std::cout, std::cerr);
  std::cout.flush();
  return std::cout.good() ? status : 1;
}
