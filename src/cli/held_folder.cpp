// Folders held open for a restore: why one is not trusted.
#include "cli/held_folder.h"

namespace vorse {

std::error_code make_error_code(Untrusted Reason) {
  static const class : public std::error_category {
  public:
    const char *name() const noexcept override { return "trust"; }
    std::string message(int Reason) const override {
      switch (static_cast<Untrusted>(Reason)) {
      case Untrusted::OwnedByAnother:
        return "it belongs to another user";
      case Untrusted::WritableByOthers:
        return "other users may change it";
      case Untrusted::LinkOfAnother:
        return "a link on the way was made by another user or stands where others may change it";
      case Untrusted::RedirectableByOthers:
        return "other users may change a folder on its path, and so could have its deletion at "
               "the next start delete another file";
      }
      return "not trusted";
    }
  } category;
  return {static_cast<int>(Reason), category};
}

} // namespace vorse
