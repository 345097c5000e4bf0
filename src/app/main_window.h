// FrmVorseFix: the program's one window, made of the standard Win32 controls.
#pragma once

#include "app/form_controls.h"
#include "app/vorsefix_form.h"
#include "sysutil/win32_support.h"

#include <string>
#include <string_view>

namespace vorse {

/// A Static control seen as a Label (LblInfo, LblFound).
class StaticLabel final : public Label {
public:
  void Attach(HWND Window, bool Visible);
  HWND Handle() const { return window_; }
  void SetCaption(const std::string &Caption) override;
  bool Visible() const override { return visible_; }
  void SetVisible(bool Visible) override;
  void Refresh() override;

private:
  HWND window_ = nullptr;
  bool visible_ = false;
};

/// A ListBox control seen as List1.
class ListBoxControl final : public ListBox {
public:
  void Attach(HWND Window) { window_ = Window; }
  HWND Handle() const { return window_; }
  /// Appends \p Text as the new last row; throws RuntimeError naming the row when the control
  /// cannot take it, so that no file goes unexamined unseen.
  void AddItem(const std::string &Text) override;
  void Clear() override;
  std::int64_t ListCount() const override;
  void SetListIndex(std::int64_t Index) override;
  std::string Text() const override;

private:
  HWND window_ = nullptr;
};

/// The main window. One object per window: the window procedure finds it through the window's
/// user data and hands every message to HandleMessage.
class FrmVorseFix final : public FormControls {
public:
  explicit FrmVorseFix(FormPlatform Platform);
  FrmVorseFix(const FrmVorseFix &) = delete;
  FrmVorseFix &operator=(const FrmVorseFix &) = delete;

  /// Creates the window at \p Dpi dots per inch (running Form_Load) and shows it. Returns false,
  /// after telling the user why, when the window could not be made.
  bool Create(HINSTANCE Instance, int ShowCommand, int Dpi);

  /// Serves the window's messages until the program ends; returns the program's exit code:
  /// 0 after Exit or the close box, 1 after an unhandled error.
  int MessageLoop();

  /// The exit code so far: non-zero once an error has ended the program.
  int ExitCode() const { return exitCode_; }

  Label &LblInfo() override { return lblInfo_; }
  Label &LblFound() override { return lblFound_; }
  ListBox &List1() override { return list1_; }
  std::int32_t MsgBox(const std::string &Text, std::uint32_t Style,
                      const std::string &Title) override;
  std::uintptr_t WindowHandle() const override { return reinterpret_cast<std::uintptr_t>(hwnd_); }
  void KeepAlive() override;

private:
  static LRESULT CALLBACK WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);
  LRESULT HandleMessage(UINT Message, WPARAM WParam, LPARAM LParam);
  bool OnCreate();
  void OnCommand(int Id, int Notification);
  LRESULT OnCtlColorStatic(HDC Dc, HWND Control);
  void OnActivate(WPARAM WParam);
  bool OnClose();

  void CreateControls();
  void CmdFFix_Click();
  void CmdExit_Click();
  /// Runs one event handler; an error escaping it is shown, naming it. Returns false then, and
  /// the caller ends the program.
  template <typename Fn> bool Guard(std::string_view Step, Fn &&Handler);
  /// Tells the user why the program ends and sets the exit code.
  void Fail(const std::string &Message);

  VorseFixForm form_;
  HWND hwnd_ = nullptr;
  int dpi_ = 96;
  ListBoxControl list1_;
  HWND cmdFFix_ = nullptr;
  HWND cmdExit_ = nullptr;
  StaticLabel lblInfo_;
  StaticLabel lblFound_;
  HWND focus_ = nullptr;
  bool running_ = false;
  bool closeRequested_ = false;
  int exitCode_ = 0;
  DWORD lastKeepAlive_ = 0;
};

/// Makes the window, shows it and serves it until the program ends; returns the exit code.
int RunVorseFix(HINSTANCE Instance, int ShowCommand);

} // namespace vorse
