// RowSink: where the file search appends the rows it finds.
#pragma once

#include <string>

namespace vorse {

/// Receives each matching path as a new last row. The window's list box is one; the
/// command-line scanner handles each row as it comes instead of holding them all.
class RowSink {
public:
  virtual ~RowSink() = default;
  virtual void AddItem(const std::string &Text) = 0;
};

} // namespace vorse
