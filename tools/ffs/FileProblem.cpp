// errno values to the reasons the tools print.
#include "tools/ffs/FileProblem.h"

#include <cerrno>

namespace packaging {

std::string file_problem(int error) {
  switch (error) {
    case ENOENT:
      return "no such file";
    case EACCES:
    case EPERM:
      return "no permission";
    case EISDIR:
      return "it is a directory, not a file";
    case ENOTDIR:
      return "a part of the path is not a directory";
    case ENOSPC:
    case EDQUOT:
      return "no space left on the device";
    case EROFS:
      return "the file system is read-only";
    case ENAMETOOLONG:
      return "the name is too long";
    case ELOOP:
      return "too many symbolic links in the path";
    case EIO:
      return "an input/output error on the device";
    case EFBIG:
      return "the file is too large";
    case EBUSY:
    case ETXTBSY:
      return "the file is busy";
    default:
      return "system error " + std::to_string(error);
  }
}

}  // namespace packaging
