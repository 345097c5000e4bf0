// The window's controls as the form's logic sees them: real Win32 controls in the program, an
// in-memory fake in the unit tests.
#pragma once

#include "scan/row_sink.h"

#include <cstdint>
#include <string>

namespace vorse {

/// A label: LblInfo or LblFound.
class Label {
public:
  virtual ~Label() = default;
  virtual void SetCaption(const std::string &Caption) = 0;
  virtual bool Visible() const = 0;
  virtual void SetVisible(bool Visible) = 0;
  /// Redraws the label at once, without waiting for the message loop.
  virtual void Refresh() = 0;
};

/// The unsorted, single-selection list box List1. AddItem appends a new last row.
class ListBox : public RowSink {
public:
  virtual void Clear() = 0;
  virtual std::int64_t ListCount() const = 0;
  /// Selects the row at \p Index, counted from 0.
  virtual void SetListIndex(std::int64_t Index) = 0;
  /// The selected row's text.
  virtual std::string Text() const = 0;
};

/// Message-box styles and answers the run uses (the Win32 values).
inline constexpr std::uint32_t kMbOkCancel = 0x1;
inline constexpr std::uint32_t kMbIconExclamation = 0x30;
inline constexpr std::int32_t kIdOk = 1;
inline constexpr std::int32_t kIdCancel = 2;

/// Everything of FrmVorseFix that the start-up and the run touch.
class FormControls {
public:
  virtual ~FormControls() = default;
  virtual Label &LblInfo() = 0;
  virtual Label &LblFound() = 0;
  virtual ListBox &List1() = 0;
  /// A modal message box owned by the window; returns the button pressed (kIdOk, kIdCancel).
  virtual std::int32_t MsgBox(const std::string &Text, std::uint32_t Style,
                              const std::string &Title) = 0;
  /// The window handle, for ShellExecuteA.
  virtual std::uintptr_t WindowHandle() const = 0;
  /// Called often during a long run: lets the system see the thread alive and shows pending
  /// changes of the list and the label, without dispatching any input.
  virtual void KeepAlive() = 0;
};

} // namespace vorse
