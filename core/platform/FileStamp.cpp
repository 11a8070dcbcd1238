#include "platform/FileStamp.h"

#include <sys/stat.h>

namespace kestrane {

FileStamp StampOf(const struct stat &st) {
  return {static_cast<uint64_t>(st.st_ino), static_cast<uint64_t>(st.st_size),
          static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 +
              st.st_ctim.tv_nsec};
}

} // namespace kestrane
