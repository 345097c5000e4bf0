// FrmVorseFix: the standard controls at their places in twips, the events handed to the form.
#include "app/main_window.h"

#include "app/form_layout.h"
#include "app/resource.h"
#include "app/runtime_error.h"
#include "app/unhandled_error.h"
#include "scan/scan_os.h"
#include "sysutil/os_detect.h"
#include "sysutil/sysutil_os.h"
#include "sysutil/win32_support.h"

#include <commctrl.h>

#include <array>
#include <optional>
#include <utility>

namespace vorse {
namespace {

constexpr char kClassName[] = "VorseFixMainWindow";
// A fixed single border with a close box and neither a maximise nor a minimise button.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = 0;
constexpr COLORREF kPureBlue = RGB(0, 0, 255);
// Often enough that Windows never takes the window for hung (that takes about five seconds),
// seldom enough to cost nothing.
constexpr DWORD kKeepAliveIntervalMs = 100;

/// How each control is made: class, styles and id.
struct ChildControl {
  FormControl Control;
  const char *ClassName;
  std::string_view Caption;
  DWORD Style;
  DWORD ExStyle;
  int Id;
};

// LBS_NOINTEGRALHEIGHT keeps the list at exactly its height instead of shrinking it to whole
// rows. SS_NOPREFIX: label texts hold paths, where "&" is a plain character.
constexpr std::array<ChildControl, kFormLayout.size()> kChildren = {{
    {FormControl::List1, "LISTBOX", "", WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT,
     WS_EX_CLIENTEDGE, IDC_LIST1},
    {FormControl::CmdFFix, "BUTTON", kCmdFFixCaption, WS_TABSTOP | BS_PUSHBUTTON, 0, IDC_CMDFFIX},
    {FormControl::CmdExit, "BUTTON", kCmdExitCaption, WS_TABSTOP | BS_PUSHBUTTON, 0, IDC_CMDEXIT},
    {FormControl::LblInfo, "STATIC", "", SS_LEFT | SS_NOPREFIX, 0, IDC_LBLINFO},
    {FormControl::LblFound, "STATIC", "", SS_LEFT | SS_NOPREFIX, 0, IDC_LBLFOUND},
}};

std::string LastErrorText() {
  return win32::LastError().message();
}

/// The system's DPI, from the screen's device context: this also works on Windows versions
/// without the per-monitor calls, and under Wine.
int ScreenDpi() {
  HDC screen = ::GetDC(nullptr);
  if (screen == nullptr)
    return 96;
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

/// Throws away the keys and clicks that waited in the queue while the run kept it: typed
/// ahead, an Enter or a Space would answer the box about to open (and OK at "Reboot Notice"
/// restarts Windows by force) before the user has read it.
void DiscardQueuedInput() {
  constexpr std::pair<UINT, UINT> kInputRanges[] = {
      {WM_KEYFIRST, WM_KEYLAST},
      {WM_MOUSEFIRST, WM_MOUSELAST},
      {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK},
  };
  MSG message;
  for (const auto &[first, last] : kInputRanges)
    while (::PeekMessageA(&message, nullptr, first, last, PM_REMOVE) != 0) {
    }
}

/// The selected row of the list box \p Window, read with \p Send (SendMessageA or
/// SendMessageW) into a string of its character type, with room for \p Widest of its units for
/// each unit that form's LB_GETTEXTLEN counts; nothing when no row is selected or the row cannot
/// be read.
template <typename Text, typename Sender>
std::optional<Text> SelectedRow(HWND Window, Sender Send, std::size_t Widest) {
  const LRESULT row = Send(Window, LB_GETCURSEL, 0, 0);
  if (row == LB_ERR)
    return std::nullopt;
  const LRESULT length = Send(Window, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
  if (length == LB_ERR)
    return std::nullopt;
  // Room for the terminating NUL that LB_GETTEXT writes after the text.
  Text text(static_cast<std::size_t>(length) * Widest + 1, typename Text::value_type{});
  const LRESULT copied =
      Send(Window, LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text.data()));
  if (copied == LB_ERR || copied < 0 || static_cast<std::size_t>(copied) >= text.size())
    return std::nullopt;
  text.resize(static_cast<std::size_t>(copied));
  return text;
}

} // namespace

void StaticLabel::Attach(HWND Window, bool Visible) {
  window_ = Window;
  visible_ = Visible;
}

void StaticLabel::SetCaption(const std::string &Caption) {
  ::SetWindowTextA(window_, Caption.c_str());
}

void StaticLabel::SetVisible(bool Visible) {
  visible_ = Visible;
  ::ShowWindow(window_, Visible ? SW_SHOW : SW_HIDE);
}

void StaticLabel::Refresh() {
  // Paint now: during a run the message loop does not get to the WM_PAINT.
  ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void ListBoxControl::AddItem(const std::string &Text) {
  const LRESULT row =
      ::SendMessageA(window_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Text.c_str()));
  if (row == LB_ERR || row == LB_ERRSPACE)
    throw RuntimeError("The file list cannot take another row (" + std::to_string(ListCount()) +
                       " rows so far); not listed: " + Text);
}

void ListBoxControl::Clear() {
  ::SendMessageA(window_, LB_RESETCONTENT, 0, 0);
}

std::int64_t ListBoxControl::ListCount() const {
  const LRESULT count = ::SendMessageA(window_, LB_GETCOUNT, 0, 0);
  return count == LB_ERR ? 0 : static_cast<std::int64_t>(count);
}

void ListBoxControl::SetListIndex(std::int64_t Index) {
  ::SendMessageA(window_, LB_SETCURSEL, static_cast<WPARAM>(Index), 0);
}

std::string ListBoxControl::Text() const {
  // The wide length counts exactly what the wide LB_GETTEXT writes; the narrow length may count
  // one byte for a character that the code page (UTF-8 here) spells in three. So the row is
  // read in the wide form and converted, except on the 9x family, whose wide messages are stubs
  // (SendMessageW fails there): it reads the narrow form, with room for three bytes a counted
  // unit. Its own code pages take at most two; Wine set to the 9x family may have UTF-8.
  if (OS_Detect(PlatformSysutilOs()) == kPlatform9x)
    return SelectedRow<std::string>(window_, ::SendMessageA, 3).value_or(std::string());
  const std::optional<std::wstring> wide = SelectedRow<std::wstring>(window_, ::SendMessageW, 1);
  // The window takes file names through the narrow calls: Narrow gives the code page's form.
  return wide ? win32::Narrow(*wide) : std::string();
}

FrmVorseFix::FrmVorseFix(FormPlatform Platform) : form_(*this, Platform) {}

bool FrmVorseFix::Create(HINSTANCE Instance, int ShowCommand, int Dpi) {
  dpi_ = Dpi;
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &FrmVorseFix::WindowProc;
  windowClass.hInstance = Instance;
  windowClass.hIcon = ::LoadIconA(Instance, MAKEINTRESOURCEA(IDI_VORSEFIX));
  windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kClassName;
  if (::RegisterClassExA(&windowClass) == 0) {
    Fail("Cannot register the window class: " + LastErrorText());
    return false;
  }

  RECT frame{0, 0, TwipsToPixels(kClientWidthTwips, dpi_), TwipsToPixels(kClientHeightTwips, dpi_)};
  ::AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  const HWND window =
      ::CreateWindowExA(kWindowExStyle, kClassName, std::string(kFormCaption).c_str(), kWindowStyle,
                        CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                        frame.bottom - frame.top, nullptr, nullptr, Instance, this);
  if (window == nullptr) {
    // A failed start-up has already told the user (and set the exit code) from WM_CREATE.
    if (exitCode_ == 0)
      Fail("Cannot create the window: " + LastErrorText());
    return false;
  }
  ::ShowWindow(window, ShowCommand);
  ::UpdateWindow(window);
  ::SetFocus(focus_);
  return true;
}

int FrmVorseFix::MessageLoop() {
  MSG message{};
  for (;;) {
    const BOOL got = ::GetMessageA(&message, nullptr, 0, 0);
    if (got == 0)
      return static_cast<int>(message.wParam);
    if (got == -1) {
      Fail("Cannot read the window's messages: " + LastErrorText());
      return exitCode_;
    }
    // The dialog keys: Tab and Shift+Tab move the focus, Alt+X presses "E&xit". Enter and Esc
    // come back as WM_COMMAND IDOK and IDCANCEL, which no control uses: they do nothing.
    if (hwnd_ != nullptr && ::IsDialogMessageA(hwnd_, &message))
      continue;
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

std::int32_t FrmVorseFix::MsgBox(const std::string &Text, std::uint32_t Style,
                                 const std::string &Title) {
  DiscardQueuedInput();
  return ::MessageBoxA(hwnd_, Text.c_str(), Title.c_str(), Style);
}

void FrmVorseFix::KeepAlive() {
  const DWORD now = ::GetTickCount();
  if (now - lastKeepAlive_ < kKeepAliveIntervalMs)
    return;
  lastKeepAlive_ = now;
  // Looking at the queue is what tells Windows that the thread is alive, so the window is not
  // marked "Not Responding". PM_NOREMOVE leaves clicks and keys in the queue until the run is
  // over (or a message box opens, which throws them away first); only messages that other
  // threads send are delivered here.
  MSG message;
  ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  // Paint what the run has changed (new rows, the selection) without invalidating anything.
  ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

LRESULT CALLBACK FrmVorseFix::WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
  FrmVorseFix *self = nullptr;
  if (Message == WM_NCCREATE) {
    self = static_cast<FrmVorseFix *>(reinterpret_cast<CREATESTRUCTA *>(LParam)->lpCreateParams);
    self->hwnd_ = Window;
    ::SetWindowLongPtrA(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<FrmVorseFix *>(::GetWindowLongPtrA(Window, GWLP_USERDATA));
  }
  // Messages before WM_NCCREATE (WM_GETMINMAXINFO) arrive before the object is known.
  if (self == nullptr)
    return ::DefWindowProcA(Window, Message, WParam, LParam);
  return self->HandleMessage(Message, WParam, LParam);
}

LRESULT FrmVorseFix::HandleMessage(UINT Message, WPARAM WParam, LPARAM LParam) {
  switch (Message) {
  case WM_CREATE:
    return OnCreate() ? 0 : -1;
  case WM_COMMAND:
    OnCommand(LOWORD(WParam), HIWORD(WParam));
    return 0;
  case WM_CTLCOLORSTATIC:
    return OnCtlColorStatic(reinterpret_cast<HDC>(WParam), reinterpret_cast<HWND>(LParam));
  case WM_ACTIVATE:
    OnActivate(WParam);
    return 0;
  case WM_SETFOCUS:
    ::SetFocus(focus_);
    return 0;
  case WM_CLOSE:
    if (OnClose())
      break;
    return 0;
  case WM_DESTROY:
    ::PostQuitMessage(exitCode_);
    return 0;
  case WM_NCDESTROY: {
    const LRESULT result = ::DefWindowProcA(hwnd_, Message, WParam, LParam);
    ::SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    hwnd_ = nullptr;
    return result;
  }
  default:
    break;
  }
  return ::DefWindowProcA(hwnd_, Message, WParam, LParam);
}

bool FrmVorseFix::OnCreate() {
  return Guard("start-up", [this] {
    CreateControls();
    form_.Form_Load();
  });
}

void FrmVorseFix::CreateControls() {
  const HFONT font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  const auto instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrA(hwnd_, GWLP_HINSTANCE));
  // Created in tab order: the dialog keys walk the controls in the order they were made.
  for (const ChildControl &child : kChildren) {
    const LayoutRect place = ToPixels(TwipsOf(child.Control), dpi_);
    const HWND control = ::CreateWindowExA(
        child.ExStyle, child.ClassName, std::string(child.Caption).c_str(),
        WS_CHILD | WS_VISIBLE | child.Style, place.Left, place.Top, place.Width, place.Height,
        hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(child.Id)), instance, nullptr);
    if (control == nullptr)
      throw RuntimeError("Cannot create the control " + std::to_string(child.Id) + " (" +
                         child.ClassName + "): " + LastErrorText());
    ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    switch (child.Control) {
    case FormControl::List1:
      list1_.Attach(control);
      break;
    case FormControl::CmdFFix:
      cmdFFix_ = control;
      break;
    case FormControl::CmdExit:
      cmdExit_ = control;
      break;
    case FormControl::LblInfo:
      lblInfo_.Attach(control, true);
      break;
    case FormControl::LblFound:
      lblFound_.Attach(control, true);
      break;
    }
  }
  focus_ = list1_.Handle();
}

void FrmVorseFix::OnCommand(int Id, int Notification) {
  if (Notification != BN_CLICKED)
    return;
  if (Id == IDC_CMDFFIX)
    CmdFFix_Click();
  else if (Id == IDC_CMDEXIT)
    CmdExit_Click();
}

void FrmVorseFix::CmdFFix_Click() {
  // Clicks and keys wait in the queue during a run, but another program can still send a click
  // straight to the button: a second run inside the first would clear the list it walks.
  if (running_)
    return;
  running_ = true;
  const bool ok = Guard("Find and Fix", [this] { form_.CmdFFix_Click(); });
  running_ = false;
  if (!ok || closeRequested_)
    ::DestroyWindow(hwnd_);
}

void FrmVorseFix::CmdExit_Click() {
  // As the close box: another program can send the click during a run, which must not lose
  // its window under it.
  if (OnClose())
    ::DestroyWindow(hwnd_);
}

bool FrmVorseFix::OnClose() {
  // A close (or Exit) sent by another program during a run takes effect when the run is over.
  if (!running_)
    return true;
  closeRequested_ = true;
  return false;
}

LRESULT FrmVorseFix::OnCtlColorStatic(HDC Dc, HWND Control) {
  const LRESULT standard = ::DefWindowProcA(hwnd_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(Dc),
                                            reinterpret_cast<LPARAM>(Control));
  if (Control == lblFound_.Handle())
    ::SetTextColor(Dc, kPureBlue);
  return standard;
}

void FrmVorseFix::OnActivate(WPARAM WParam) {
  // Keep the focused control across a switch to another window and back, as dialogs do.
  if (LOWORD(WParam) == WA_INACTIVE) {
    const HWND focused = ::GetFocus();
    if (focused != nullptr && ::IsChild(hwnd_, focused))
      focus_ = focused;
    return;
  }
  ::SetFocus(focus_);
}

template <typename Fn> bool FrmVorseFix::Guard(std::string_view Step, Fn &&Handler) {
  const std::optional<std::string> error = RunHandler(Step, std::forward<Fn>(Handler));
  if (!error)
    return true;
  Fail(*error);
  return false;
}

void FrmVorseFix::Fail(const std::string &Message) {
  exitCode_ = 1;
  DiscardQueuedInput();
  ::MessageBoxA(hwnd_, Message.c_str(), std::string(kFormCaption).c_str(), MB_OK | MB_ICONERROR);
}

int RunVorseFix(HINSTANCE Instance, int ShowCommand) {
  // Loads version 6 of the common controls that the manifest asks for, so that the standard
  // controls take the system's current look.
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  FrmVorseFix window({PlatformAppOs(), PlatformScanOs(), PlatformSysutilOs()});
  if (!window.Create(Instance, ShowCommand, ScreenDpi()))
    return window.ExitCode();
  return window.MessageLoop();
}

} // namespace vorse
