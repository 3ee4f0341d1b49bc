#include <string>
#include <vector>

#include "common/arguments.h"
#include "common/console.h"
#include "common/current_folder.h"
#include "common/files.h"
#include "common/local_date.h"
#include "common/platform.h"
#include "common/pod_search.h"
#include "run/run.h"

int main(int argc, char* argv[]) {
  const std::vector<std::string> arguments = user_arguments(argc, argv);
  Platform platform{system_console(), system_files(), system_pod_search(), local_weekday, current_folder};
  int status = run(arguments, platform);
  platform.console.flush();
  return status;
}
