// The one error type of the firmware-file packaging library: a message fit to print as one line.
#ifndef TOOLS_FFS_FFS_ERROR_H_
#define TOOLS_FFS_FFS_ERROR_H_

#include <stdexcept>

namespace packaging {

class FfsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace packaging

#endif  // TOOLS_FFS_FFS_ERROR_H_
