// srid: the machine identifier this computer gets now (see srid_command.h).
#include <iostream>
#include <string>
#include <vector>

#include "srid_command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return srid::RunSridCommand(args, std::cout, std::cerr);
}
