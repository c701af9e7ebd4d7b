// Stands in for the task data reader until it is built in: no input is taken
// for task data, and reading one says so.
#include "import/TaskData.h"

namespace kestrune {

bool IsTaskData(const std::string& path) {
  (void)path;
  return false;
}

bool ReadTaskData(const std::string& path, ImportContent& content, std::string& why,
                  const std::function<bool(int percent)>& progress) {
  (void)path;
  (void)content;
  (void)progress;
  why = "ISOXML task data cannot be read yet";
  return false;
}

}  // namespace kestrune
