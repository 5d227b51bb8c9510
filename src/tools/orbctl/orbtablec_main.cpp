// orbtablec: the table commands of orbctl alone, for the build, which turns the default
// profile tables from text into the bytes compiled into the program. It links only the
// layers a table needs, so it can be built before the rest.
#include "tools/orbctl/standard_output.h"
#include "tools/orbctl/table_command.h"

int main(int argc, char** argv) {
  return orb::orbctl::FinishStandardOutput("orbtablec",
                                           orb::orbctl::RunTableCommand(orb::orbctl::Args(argv + 1, argv + argc)));
}
