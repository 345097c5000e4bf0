// vorse_window_driver: drives and checks VorseFix's running window from another process.
//
// Usage: vorse_window_driver COMMAND [ARGUMENTS] [--timeout SECONDS] [--title TITLE]
//
//   wait-window            wait until the window is up and serving its messages
//   check-window [DRIVE]   check a fresh window (no run yet): every control's class, text, style
//                          and place (the twips layout at the system's DPI), the border and boxes,
//                          the client size, the tab order, the focus on List1,
//                          the instruction text naming DRIVE\!VorseFix\ (DRIVE defaults to C:),
//                          and that Enter and Esc do nothing
//   check-file EXE         check EXE's version resource, its icon (32 x 32, 16 colours, a red X)
//                          and its manifest's administrator request
//   press-find-and-fix     press "Find and Fix", then wait-idle
//   wait-idle              wait until no handler runs (the window is back in a message loop) and
//                          print the state: "done" (idle), "prompt" (the "Reboot Notice" box is
//                          up), "error" (the box reporting an unhandled error is up) or "gone"
//   read-status            print LblFound's text; an empty line while the label is hidden
//   check-status-colour    check that LblFound's text is drawn in pure blue (needs a text)
//   read-list              print List1's rows, one a line
//   read-selection         print the index of List1's selected row, -1 for none
//   read-msgbox            print the text of the message box titled TITLE (default
//                          "Reboot Notice")
//   answer-msgbox ok|cancel  press that button of the box titled TITLE, wait until the box is
//                          gone, then wait-idle and print its state; when the program has
//                          ended: gone (exit code N)
//   type-ahead             press "Find and Fix" and, while the run is busy, type Enter and
//                          Space with SendInput; then print the state once idle, and again a
//                          second later when it has changed ("prompt, then gone")
//   exit-during-run        press "Find and Fix" and, while the run is busy, send the click of
//                          "E&xit" as another program can; then print the state as type-ahead
//   exit-button | exit-alt-x | exit-close-box
//                          end the program by pressing "E&xit", by the keys Alt+X, or by the
//                          close box; check that the process ends with exit code 0
//   hold-file PATH SECONDS  open PATH allowing no other opener, print "held", and keep it so
//                          for SECONDS (or until this process is ended)
//   use-file PATH SECONDS  as hold-file, but as a running program holds its image: others may
//                          read PATH, not write, rename or delete it
//
// --timeout bounds every wait (default 60 seconds), VORSE_WAIT_FACTOR (a whole number up to
// 20, set where programs run slower, as under emulation) times that and every message's limit.
// Texts are printed in UTF-8.
// Exit status: 0 done, 1 a check failed, 2 bad usage, no window, or a wait timed out.
#include "app/form_layout.h"
#include "app/resource.h"
#include "sysutil/win32_support.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorse {
namespace {

constexpr int kUsageError = 2;
constexpr int kCheckFailed = 1;
constexpr wchar_t kRebootNotice[] = L"Reboot Notice";
// Long enough for a loaded machine to schedule the window between its busy run's message
// checks; a window that does not answer at all is still found out.
constexpr UINT kSendTimeoutMs = 20000;
constexpr DWORD kPollMs = 50;
// Resource types by number: the headers spell them in the narrow form only.
constexpr WORD kRtIcon = 3;
constexpr WORD kRtGroupIcon = 14;
constexpr WORD kRtManifest = 24;

std::wstring Widen(std::string_view Text) {
  if (Text.empty())
    return {};
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), wide.data(),
                        length);
  return wide;
}

std::string Narrow(std::wstring_view Text) {
  if (Text.empty())
    return {};
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), narrow.data(),
                        length, nullptr, nullptr);
  return narrow;
}

void PrintLine(std::wstring_view Text) {
  std::printf("%s\n", Narrow(Text).c_str());
}

/// Thrown when the window is missing or a wait runs out: the command cannot go on.
struct DriverError {
  std::string Message;
};

/// VORSE_WAIT_FACTOR when it is a whole number from 1 to 20; 1 otherwise.
DWORD WaitFactor() {
  static const DWORD factor = [] {
    wchar_t value[4] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"VORSE_WAIT_FACTOR", value, 4);
    if (length == 0 || length > 2 || std::wcsspn(value, L"0123456789") != length)
      return DWORD{1};
    const DWORD read = static_cast<DWORD>(std::wcstoul(value, nullptr, 10));
    return read >= 1 && read <= 20 ? read : DWORD{1};
  }();
  return factor;
}

/// Sends a message to a window of another process; throws when it does not answer in time.
LRESULT Send(HWND Window, UINT Message, WPARAM WParam = 0, LPARAM LParam = 0) {
  DWORD_PTR result = 0;
  if (::SendMessageTimeoutW(Window, Message, WParam, LParam, SMTO_NORMAL,
                            kSendTimeoutMs * WaitFactor(), &result) == 0)
    throw DriverError{"the window did not answer message " + std::to_string(Message) + ": " +
                      win32::LastError().message()};
  return static_cast<LRESULT>(result);
}

/// A control's text, read with the wide messages (which Windows carries across processes).
std::wstring TextOf(HWND Window) {
  const LRESULT length = Send(Window, WM_GETTEXTLENGTH);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied =
      Send(Window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(copied < 0 ? 0 : copied));
  return text;
}

std::wstring ClassOf(HWND Window) {
  wchar_t name[256] = {};
  const int length = ::GetClassNameW(Window, name, 256);
  return std::wstring(name, static_cast<std::size_t>(length > 0 ? length : 0));
}

bool SameText(std::wstring_view A, std::wstring_view B) {
  return A.size() == B.size() &&
         ::CompareStringOrdinal(A.data(), static_cast<int>(A.size()), B.data(),
                                static_cast<int>(B.size()), TRUE) == CSTR_EQUAL;
}

/// The options every command shares.
struct Options {
  DWORD TimeoutMs = 60000;
  std::wstring Title = kRebootNotice;
};

/// Polls \p Ready every kPollMs until it holds; throws after \p TimeoutMs.
template <typename Fn> void WaitFor(const Options &Opts, const char *What, Fn Ready) {
  const ULONGLONG end = ::GetTickCount64() + Opts.TimeoutMs;
  while (!Ready()) {
    if (::GetTickCount64() >= end)
      throw DriverError{std::string("timed out waiting for ") + What};
    ::Sleep(kPollMs);
  }
}

struct Search {
  std::wstring_view Caption;
  std::wstring_view ClassName;
  DWORD ProcessId = 0;
  HWND Found = nullptr;
};

BOOL CALLBACK MatchTopLevel(HWND Window, LPARAM Data) {
  auto &search = *reinterpret_cast<Search *>(Data);
  if (search.ProcessId != 0) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(Window, &pid);
    if (pid != search.ProcessId)
      return TRUE;
  }
  wchar_t caption[256] = {};
  ::GetWindowTextW(Window, caption, 256);
  if (search.Caption != caption)
    return TRUE;
  const bool isDialog = ClassOf(Window) == L"#32770";
  // The main window is told from a box with the same caption by its list.
  if (search.ClassName.empty() ? (isDialog || ::GetDlgItem(Window, IDC_LIST1) == nullptr)
                               : !isDialog)
    return TRUE;
  search.Found = Window;
  return FALSE;
}

HWND FindTopLevel(std::wstring_view Caption, std::wstring_view ClassName, DWORD ProcessId) {
  Search search{Caption, ClassName, ProcessId, nullptr};
  ::EnumWindows(&MatchTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

/// The running VorseFix window and its controls.
struct Form {
  HWND Window = nullptr;
  DWORD ProcessId = 0;
  DWORD ThreadId = 0;
  HWND List1 = nullptr;
  HWND CmdFFix = nullptr;
  HWND CmdExit = nullptr;
  HWND LblInfo = nullptr;
  HWND LblFound = nullptr;

  HWND Control(FormControl Which) const {
    switch (Which) {
    case FormControl::List1:
      return List1;
    case FormControl::CmdFFix:
      return CmdFFix;
    case FormControl::CmdExit:
      return CmdExit;
    case FormControl::LblInfo:
      return LblInfo;
    case FormControl::LblFound:
      return LblFound;
    }
    return nullptr;
  }
};

std::optional<Form> TryFindForm() {
  Form form;
  form.Window = FindTopLevel(Widen(kFormCaption), {}, 0);
  if (form.Window == nullptr)
    return std::nullopt;
  form.ThreadId = ::GetWindowThreadProcessId(form.Window, &form.ProcessId);
  form.List1 = ::GetDlgItem(form.Window, IDC_LIST1);
  form.CmdFFix = ::GetDlgItem(form.Window, IDC_CMDFFIX);
  form.CmdExit = ::GetDlgItem(form.Window, IDC_CMDEXIT);
  form.LblInfo = ::GetDlgItem(form.Window, IDC_LBLINFO);
  form.LblFound = ::GetDlgItem(form.Window, IDC_LBLFOUND);
  return form;
}

Form FindForm(const Options &Opts) {
  std::optional<Form> form;
  WaitFor(Opts, "the VorseFix window", [&] { return (form = TryFindForm()).has_value(); });
  return *form;
}

HWND FindBox(const Form &F, std::wstring_view Title) {
  return FindTopLevel(Title, L"#32770", F.ProcessId);
}

/// Waits until the window's thread takes a message from its queue again: the main loop after a
/// handler, or the modal loop of a message box. A posted message waits behind the running
/// handler (the run looks at its queue without taking anything), while sent messages do not,
/// so the marker is posted: List1's horizontal extent, which a list without a horizontal
/// scroll bar keeps but never shows.
std::string WaitIdle(const Form &F, const Options &Opts) {
  if (!::IsWindow(F.Window))
    return "gone";
  const WPARAM marker = 1000 + (::GetTickCount() % 20000);
  if (::PostMessageW(F.List1, LB_SETHORIZONTALEXTENT, marker, 0) == 0)
    return "gone";
  // The program may end between a look at the window and a message to it.
  const auto sendUnlessGone = [&](UINT Message, WPARAM WParam) -> std::optional<LRESULT> {
    try {
      return Send(F.List1, Message, WParam);
    } catch (const DriverError &) {
      if (::IsWindow(F.List1))
        throw;
      return std::nullopt;
    }
  };
  bool gone = false;
  WaitFor(Opts, "the window to finish its handler", [&] {
    const std::optional<LRESULT> extent = sendUnlessGone(LB_GETHORIZONTALEXTENT, 0);
    gone = !extent;
    return gone || static_cast<WPARAM>(*extent) == marker;
  });
  if (gone || !sendUnlessGone(LB_SETHORIZONTALEXTENT, 0))
    return "gone";
  if (FindBox(F, kRebootNotice) != nullptr)
    return "prompt";
  if (FindBox(F, Widen(kFormCaption)) != nullptr)
    return "error";
  return "done";
}

/// Counts checks and prints each failure.
class Checker {
public:
  void Expect(bool Ok, const std::string &What) {
    ++checks_;
    if (Ok)
      return;
    ++failures_;
    std::printf("FAIL: %s\n", What.c_str());
  }
  void ExpectText(HWND Window, std::wstring_view Expected, const std::string &What) {
    const std::wstring actual = TextOf(Window);
    Expect(actual == Expected,
           What + " reads \"" + Narrow(actual) + "\", expected \"" + Narrow(Expected) + "\"");
  }
  int Finish(const char *Command) const {
    std::printf("%s: %d checks, %d failed\n", Command, checks_, failures_);
    return failures_ == 0 ? 0 : kCheckFailed;
  }

private:
  int checks_ = 0;
  int failures_ = 0;
};

const char *NameOf(FormControl Which) {
  switch (Which) {
  case FormControl::List1:
    return "List1";
  case FormControl::CmdFFix:
    return "CmdFFix";
  case FormControl::CmdExit:
    return "CmdExit";
  case FormControl::LblInfo:
    return "LblInfo";
  case FormControl::LblFound:
    return "LblFound";
  }
  return "?";
}

std::string Describe(const LayoutRect &R) {
  char text[64];
  std::snprintf(text, sizeof(text), "(%ld, %ld, %ld, %ld)", static_cast<long>(R.Left),
                static_cast<long>(R.Top), static_cast<long>(R.Width), static_cast<long>(R.Height));
  return text;
}

int ScreenDpi() {
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi;
}

/// A control's rectangle in its parent's client coordinates.
LayoutRect PlaceOf(HWND Control, HWND Parent) {
  RECT r{};
  ::GetWindowRect(Control, &r);
  ::MapWindowPoints(nullptr, Parent, reinterpret_cast<POINT *>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

void CheckFrame(Checker &C, const Form &F, int Dpi) {
  C.ExpectText(F.Window, Widen(kFormCaption), "the caption");
  const auto style = static_cast<DWORD>(::GetWindowLongW(F.Window, GWL_STYLE));
  C.Expect((style & WS_CAPTION) == WS_CAPTION, "the window has a caption");
  C.Expect((style & WS_SYSMENU) != 0, "the window has a close box");
  C.Expect((style & WS_THICKFRAME) == 0, "the border is fixed (no sizing frame)");
  C.Expect((style & WS_MAXIMIZEBOX) == 0, "no maximise button");
  C.Expect((style & WS_MINIMIZEBOX) == 0, "no minimise button");
  RECT client{};
  ::GetClientRect(F.Window, &client);
  const LayoutRect expected{0, 0, TwipsToPixels(kClientWidthTwips, Dpi),
                            TwipsToPixels(kClientHeightTwips, Dpi)};
  const LayoutRect actual{0, 0, client.right, client.bottom};
  C.Expect(actual == expected,
           "the client area is " + Describe(actual) + ", expected " + Describe(expected));
}

void CheckControls(Checker &C, const Form &F, int Dpi, const std::wstring &Drive) {
  for (const ControlLayout &entry : kFormLayout) {
    const std::string name = NameOf(entry.Control);
    const HWND control = F.Control(entry.Control);
    C.Expect(control != nullptr, name + " exists");
    if (control == nullptr)
      continue;
    const LayoutRect expected = ToPixels(entry.Twips, Dpi);
    const LayoutRect actual = PlaceOf(control, F.Window);
    C.Expect(actual == expected,
             name + " is at " + Describe(actual) + ", expected " + Describe(expected));
  }
  const auto styleOf = [](HWND W) { return static_cast<DWORD>(::GetWindowLongW(W, GWL_STYLE)); };

  C.Expect(SameText(ClassOf(F.List1), L"ListBox"), "List1 is a ListBox");
  const DWORD list = styleOf(F.List1);
  C.Expect((list & (LBS_SORT | LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) == 0,
           "List1 is unsorted, single selection");
  C.Expect((list & LBS_NOINTEGRALHEIGHT) != 0, "List1 keeps its exact height");
  C.Expect(Send(F.List1, LB_GETCOUNT) == 0, "List1 starts empty");

  const std::pair<HWND, std::string_view> buttons[] = {{F.CmdFFix, kCmdFFixCaption},
                                                       {F.CmdExit, kCmdExitCaption}};
  for (const auto &[button, caption] : buttons) {
    const std::string name = "button \"" + std::string(caption) + "\"";
    C.Expect(SameText(ClassOf(button), L"Button"), name + " is a Button");
    C.ExpectText(button, Widen(caption), name);
    C.Expect((styleOf(button) & BS_TYPEMASK) == BS_PUSHBUTTON, name + " is not a default button");
  }
  for (const HWND label : {F.LblInfo, F.LblFound}) {
    C.Expect(SameText(ClassOf(label), L"Static"), "the labels are Static controls");
    C.Expect((styleOf(label) & WS_TABSTOP) == 0, "the labels take no focus");
  }
  C.ExpectText(F.LblInfo,
               L"Clicking Find and Fix will locate all Vorse Files, and copy them to " + Drive +
                   L"\\!VorseFix\\  you will be prompted to Reboot and all files will be deleted",
               "LblInfo");
  C.ExpectText(F.LblFound, L"", "LblFound");
}

void CheckFocus(Checker &C, const Form &F) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  C.Expect(::GetGUIThreadInfo(F.ThreadId, &info) != 0 && info.hwndFocus == F.List1,
           "the focus starts on List1");
  C.Expect(::GetNextDlgTabItem(F.Window, F.List1, FALSE) == F.CmdFFix,
           "Tab goes from List1 to \"Find and Fix\"");
  C.Expect(::GetNextDlgTabItem(F.Window, F.CmdFFix, FALSE) == F.CmdExit,
           "Tab goes from \"Find and Fix\" to \"E&xit\"");
  C.Expect(::GetNextDlgTabItem(F.Window, F.CmdExit, FALSE) == F.List1,
           "Tab goes from \"E&xit\" back to List1");
}

/// Posts a key press to \p Target as the keyboard would (the message loop translates it).
void PostKey(HWND Target, WPARAM Key, bool Alt) {
  const UINT scan = ::MapVirtualKeyW(static_cast<UINT>(Key), MAPVK_VK_TO_VSC);
  const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16) | (Alt ? (1L << 29) : 0);
  const LPARAM up = down | (1L << 30) | (1L << 31);
  ::PostMessageW(Target, Alt ? WM_SYSKEYDOWN : WM_KEYDOWN, Key, down);
  ::PostMessageW(Target, Alt ? WM_SYSKEYUP : WM_KEYUP, Key, up);
}

void CheckQuietKeys(Checker &C, const Form &F, const Options &Opts) {
  PostKey(F.List1, VK_RETURN, false);
  PostKey(F.List1, VK_ESCAPE, false);
  const std::string state = WaitIdle(F, Opts);
  C.Expect(state == "done", "after Enter and Esc the window is idle (" + state + ")");
  if (state != "done")
    return;
  C.Expect(Send(F.List1, LB_GETCOUNT) == 0 && TextOf(F.LblFound).empty(),
           "Enter and Esc start no run");
}

int CheckWindow(const std::vector<std::string> &Args, const Options &Opts) {
  const Form form = FindForm(Opts);
  WaitIdle(form, Opts);
  const int dpi = ScreenDpi();
  std::printf("system DPI: %d\n", dpi);
  Checker checker;
  CheckFrame(checker, form, dpi);
  CheckControls(checker, form, dpi, Widen(Args.empty() ? "C:" : Args[0]));
  CheckFocus(checker, form);
  CheckQuietKeys(checker, form, Opts);
  return checker.Finish("check-window");
}

/// A counted view of a resource's bytes; every read is checked against its size.
struct Bytes {
  const std::uint8_t *Data = nullptr;
  std::size_t Size = 0;

  std::optional<std::uint32_t> Read(std::size_t Offset, std::size_t Width) const {
    if (Width > Size || Offset > Size - Width)
      return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < Width; ++i)
      value |= static_cast<std::uint32_t>(Data[Offset + i]) << (8 * i);
    return value;
  }
};

Bytes ResourceBytes(HMODULE Module, LPCWSTR Name, LPCWSTR Type) {
  const HRSRC found = ::FindResourceW(Module, Name, Type);
  if (found == nullptr)
    return {};
  const HGLOBAL loaded = ::LoadResource(Module, found);
  if (loaded == nullptr)
    return {};
  return {static_cast<const std::uint8_t *>(::LockResource(loaded)),
          ::SizeofResource(Module, found)};
}

BOOL CALLBACK FirstName(HMODULE, LPCWSTR, LPWSTR Name, LONG_PTR Data) {
  // Icon groups of VorseFix are numbered, so the name is an id, not a pointer to keep.
  *reinterpret_cast<LPWSTR *>(Data) = Name;
  return FALSE;
}

/// The 16-colour palette entry of the icon's pixel at (X, Y), Y from the top, or nullopt when
/// the mask makes it transparent or the image is too short.
std::optional<std::uint32_t> IconPixel(const Bytes &Image, int X, int Y) {
  constexpr std::size_t kHeader = 40, kPalette = 16 * 4, kColourRow = 16, kMaskRow = 4;
  const auto row = static_cast<std::size_t>(31 - Y);
  const std::size_t maskAt = kHeader + kPalette + kColourRow * 32 + kMaskRow * row + X / 8;
  const auto mask = Image.Read(maskAt, 1);
  if (!mask || (*mask & (0x80u >> (X % 8))) != 0)
    return std::nullopt;
  const auto pair = Image.Read(kHeader + kPalette + kColourRow * row + X / 2, 1);
  if (!pair)
    return std::nullopt;
  const std::uint32_t index = X % 2 == 0 ? *pair >> 4 : *pair & 0xF;
  const auto colour = Image.Read(kHeader + index * 4, 4);
  return colour ? std::optional<std::uint32_t>(*colour & 0xFFFFFF) : std::nullopt;
}

void CheckIcon(Checker &C, HMODULE Module) {
  LPWSTR group = nullptr;
  ::EnumResourceNamesW(Module, MAKEINTRESOURCEW(kRtGroupIcon), &FirstName,
                       reinterpret_cast<LONG_PTR>(&group));
  C.Expect(group == MAKEINTRESOURCEW(IDI_VORSEFIX), "the first icon is the window's icon");
  const Bytes directory =
      ResourceBytes(Module, MAKEINTRESOURCEW(IDI_VORSEFIX), MAKEINTRESOURCEW(kRtGroupIcon));
  C.Expect(directory.Size > 0, "the program file has an icon");
  if (directory.Size == 0)
    return;
  const int id = ::LookupIconIdFromDirectoryEx(const_cast<PBYTE>(directory.Data), TRUE, 32, 32,
                                               LR_DEFAULTCOLOR);
  const Bytes image = ResourceBytes(Module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(kRtIcon));
  C.Expect(image.Read(4, 4) == 32u && image.Read(8, 4) == 64u, "the icon is 32 x 32");
  C.Expect(image.Read(14, 2) == 4u, "the icon has 16 colours");
  constexpr std::uint32_t kRed = 0xFF0000;
  C.Expect(IconPixel(image, 16, 16) == kRed && IconPixel(image, 6, 6) == kRed &&
               IconPixel(image, 25, 6) == kRed,
           "the icon's diagonals are red");
  C.Expect(!IconPixel(image, 16, 4) && !IconPixel(image, 0, 0) && !IconPixel(image, 4, 16),
           "the icon is transparent between the strokes");
}

void CheckVersion(Checker &C, const std::wstring &Exe) {
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(Exe.c_str(), &handle);
  std::vector<std::uint8_t> block(size);
  C.Expect(size > 0 && ::GetFileVersionInfoW(Exe.c_str(), 0, size, block.data()) != 0,
           "the program file has a version resource");
  if (size == 0)
    return;
  const std::pair<const wchar_t *, const wchar_t *> strings[] = {
      {L"ProductName", L"VorseFix"},          {L"InternalName", L"VorseFix"},
      {L"OriginalFilename", L"VorseFix.exe"}, {L"FileVersion", L"1.00"},
      {L"ProductVersion", L"1.00"},
  };
  for (const auto &[key, expected] : strings) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + key;
    void *value = nullptr;
    UINT length = 0;
    const bool found = ::VerQueryValueW(block.data(), path.c_str(), &value, &length) != 0;
    const std::wstring actual =
        found ? std::wstring(static_cast<const wchar_t *>(value),
                             wcsnlen(static_cast<const wchar_t *>(value), length))
              : L"(missing)";
    C.Expect(actual == expected,
             Narrow(key) + " is \"" + Narrow(actual) + "\", expected \"" + Narrow(expected) + "\"");
  }
  void *fixed = nullptr;
  UINT length = 0;
  const bool hasFixed = ::VerQueryValueW(block.data(), L"\\", &fixed, &length) != 0 &&
                        length >= sizeof(VS_FIXEDFILEINFO);
  const auto *info = static_cast<const VS_FIXEDFILEINFO *>(fixed);
  C.Expect(hasFixed && info->dwFileVersionMS == 0x00010000 && info->dwFileVersionLS == 0,
           "the file version is 1.0.0.0");
  void *translation = nullptr;
  const bool hasTranslation =
      ::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &translation, &length) != 0 &&
      length >= 4;
  const auto *pair = static_cast<const WORD *>(translation);
  C.Expect(hasTranslation && pair[0] == 0x409 && pair[1] == 1200, "the translation is 0x409, 1200");
}

int CheckFile(const std::vector<std::string> &Args) {
  if (Args.size() != 1)
    throw DriverError{"check-file needs the path of VorseFix.exe"};
  const std::wstring exe = Widen(Args[0]);
  Checker checker;
  CheckVersion(checker, exe);
  // As data only: nothing of the program runs in this process.
  const HMODULE module = ::LoadLibraryExW(
      exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  checker.Expect(module != nullptr, "the program file loads as data");
  if (module != nullptr) {
    CheckIcon(checker, module);
    const Bytes manifest =
        ResourceBytes(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(kRtManifest));
    const std::string_view text(reinterpret_cast<const char *>(manifest.Data), manifest.Size);
    checker.Expect(text.find("level=\"requireAdministrator\"") != std::string_view::npos,
                   "the manifest asks for administrator rights");
    ::FreeLibrary(module);
  }
  return checker.Finish("check-file");
}

int CheckStatusColour(const Options &Opts) {
  const Form form = FindForm(Opts);
  WaitIdle(form, Opts);
  Checker checker;
  checker.Expect(::IsWindowVisible(form.LblFound) && !TextOf(form.LblFound).empty(),
                 "LblFound shows a text");
  // Read from the screen: another process's window cannot be read through its own DC.
  RECT r{};
  ::GetWindowRect(form.LblFound, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void *bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  ::GdiFlush();
  int blue = 0;
  int other = 0;
  const auto *pixels = static_cast<const std::uint32_t *>(bits);
  for (int i = 0; bits != nullptr && i < width * height; ++i) {
    // 0x00RRGGBB in a 32-bit DIB.
    const std::uint32_t pixel = pixels[i] & 0xFFFFFF;
    const std::uint32_t red = pixel >> 16, green = (pixel >> 8) & 0xFF, blueness = pixel & 0xFF;
    if (pixel == 0x0000FF)
      ++blue;
    else if (red < 96 && green < 96 && blueness < 96)
      ++other;
  }
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  checker.Expect(blue > 0 && other == 0, "LblFound's text is pure blue (" + std::to_string(blue) +
                                             " blue, " + std::to_string(other) + " dark pixels)");
  return checker.Finish("check-status-colour");
}

int ReadList(const Options &Opts) {
  const Form form = FindForm(Opts);
  const LRESULT count = Send(form.List1, LB_GETCOUNT);
  for (LRESULT row = 0; row < count; ++row) {
    const LRESULT length = Send(form.List1, LB_GETTEXTLEN, static_cast<WPARAM>(row));
    std::wstring text(static_cast<std::size_t>(length < 0 ? 0 : length) + 1, L'\0');
    const LRESULT copied = Send(form.List1, LB_GETTEXT, static_cast<WPARAM>(row),
                                reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(copied < 0 ? 0 : copied));
    PrintLine(text);
  }
  return 0;
}

int ReadMsgBox(const Options &Opts) {
  const Form form = FindForm(Opts);
  HWND box = nullptr;
  WaitFor(Opts, "the message box", [&] { return (box = FindBox(form, Opts.Title)) != nullptr; });
  // A message box's text is the static control with id 0xFFFF.
  PrintLine(TextOf(::GetDlgItem(box, 0xFFFF)));
  return 0;
}

int AnswerMsgBox(const std::vector<std::string> &Args, const Options &Opts) {
  if (Args.size() != 1 || (Args[0] != "ok" && Args[0] != "cancel"))
    throw DriverError{"answer-msgbox needs ok or cancel"};
  const Form form = FindForm(Opts);
  HWND box = nullptr;
  WaitFor(Opts, "the message box", [&] { return (box = FindBox(form, Opts.Title)) != nullptr; });
  // Opened before the answer: an answer that ends the program still tells its exit code.
  const HANDLE process =
      ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, form.ProcessId);
  const int id = Args[0] == "ok" ? IDOK : IDCANCEL;
  const HWND button = ::GetDlgItem(box, id);
  if (button == nullptr)
    throw DriverError{"the message box has no " + Args[0] + " button"};
  ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  WaitFor(Opts, "the message box to close", [&] { return !::IsWindow(box); });
  const std::string state = WaitIdle(form, Opts);
  DWORD code = STILL_ACTIVE;
  if (state == "gone" && process != nullptr &&
      ::WaitForSingleObject(process, Opts.TimeoutMs) == WAIT_OBJECT_0)
    ::GetExitCodeProcess(process, &code);
  if (process != nullptr)
    ::CloseHandle(process);
  if (state == "gone")
    std::printf("gone (exit code %lu)\n", static_cast<unsigned long>(code));
  else
    std::printf("%s\n", state.c_str());
  return 0;
}

int EndProgram(const std::string &How, const Options &Opts) {
  const Form form = FindForm(Opts);
  WaitIdle(form, Opts);
  const HANDLE process =
      ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, form.ProcessId);
  if (process == nullptr)
    throw DriverError{"cannot open the program's process"};
  if (How == "exit-button")
    ::PostMessageW(form.CmdExit, BM_CLICK, 0, 0);
  else if (How == "exit-alt-x")
    PostKey(form.List1, 'X', true);
  else
    ::PostMessageW(form.Window, WM_SYSCOMMAND, SC_CLOSE, 0);
  const DWORD waited = ::WaitForSingleObject(process, Opts.TimeoutMs);
  DWORD code = STILL_ACTIVE;
  ::GetExitCodeProcess(process, &code);
  ::CloseHandle(process);
  if (waited != WAIT_OBJECT_0)
    throw DriverError{How + ": the program did not end"};
  std::printf("%s: the program ended with exit code %lu\n", How.c_str(),
              static_cast<unsigned long>(code));
  return code == 0 ? 0 : kCheckFailed;
}

/// Keeps a file open sharing only \p Share with others: none, the way a program that shares
/// nothing does, so that others cannot read it; or reading, as a running program's image.
int HoldFile(const std::vector<std::string> &Args, DWORD Share) {
  if (Args.size() != 2 || Args[1].empty() ||
      Args[1].find_first_not_of("0123456789") != std::string::npos || Args[1].size() > 6)
    throw DriverError{"hold-file and use-file need a path and whole seconds"};
  const win32::ScopedFileHandle file(::CreateFileW(Widen(Args[0]).c_str(), GENERIC_READ, Share,
                                                   nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file)
    throw DriverError{"cannot open " + Args[0]};
  std::printf("held\n");
  std::fflush(stdout);
  ::Sleep(static_cast<DWORD>(std::stoul(Args[1]) * 1000));
  return 0;
}

/// Presses "Find and Fix" and waits until the run is busy: the search has listed a row. The
/// run answers sent messages (not posted ones) while it works.
void StartRun(const Form &F, const Options &Opts) {
  ::PostMessageW(F.CmdFFix, BM_CLICK, 0, 0);
  WaitFor(Opts, "the run to list a row", [&] { return Send(F.List1, LB_GETCOUNT) > 0; });
}

/// Throws when the run was over before the step that must happen during it.
void ExpectRunBusy(const Form &F, const char *Step) {
  if (FindBox(F, kRebootNotice) != nullptr)
    throw DriverError{std::string("the run ended before ") + Step +
                      "; plant more files to keep it busy"};
}

/// The state once the window is idle again, and again a second later: a box that typed-ahead
/// keys answer is gone by then.
void PrintSettledState(const Form &F, const Options &Opts) {
  const std::string state = WaitIdle(F, Opts);
  ::Sleep(1000);
  const std::string later = WaitIdle(F, Opts);
  std::printf("%s\n", state == later ? state.c_str() : (state + ", then " + later).c_str());
}

/// Enter and Space as the keyboard types them, three times each, to the foreground window.
void TypeEnterAndSpace() {
  std::vector<INPUT> keys;
  for (int i = 0; i < 3; ++i) {
    for (const WORD key : {WORD{VK_RETURN}, WORD{VK_SPACE}}) {
      for (const DWORD flags : {DWORD{0}, DWORD{KEYEVENTF_KEYUP}}) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = flags;
        keys.push_back(input);
      }
    }
  }
  if (::SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT)) != keys.size())
    throw DriverError{"SendInput failed: " + win32::LastError().message()};
}

/// type-ahead: presses "Find and Fix" and types Enter and Space while the run is busy.
int TypeAhead(const Options &Opts) {
  const Form form = FindForm(Opts);
  WaitIdle(form, Opts);
  ::SetForegroundWindow(form.Window);
  StartRun(form, Opts);
  TypeEnterAndSpace();
  ExpectRunBusy(form, "the keys were typed");
  PrintSettledState(form, Opts);
  return 0;
}

/// exit-during-run: presses "Find and Fix" and, while the run is busy, sends the click of
/// "E&xit" as another program can.
int ExitDuringRun(const Options &Opts) {
  const Form form = FindForm(Opts);
  WaitIdle(form, Opts);
  StartRun(form, Opts);
  Send(form.Window, WM_COMMAND, MAKEWPARAM(IDC_CMDEXIT, BN_CLICKED),
       reinterpret_cast<LPARAM>(form.CmdExit));
  ExpectRunBusy(form, "Exit was sent");
  PrintSettledState(form, Opts);
  return 0;
}

int Dispatch(const std::string &Command, const std::vector<std::string> &Args,
             const Options &Opts) {
  if (Command == "wait-window") {
    const Form form = FindForm(Opts);
    std::printf("%s\n", WaitIdle(form, Opts).c_str());
    return 0;
  }
  if (Command == "check-window")
    return CheckWindow(Args, Opts);
  if (Command == "check-file")
    return CheckFile(Args);
  if (Command == "press-find-and-fix" || Command == "wait-idle") {
    const Form form = FindForm(Opts);
    if (Command == "press-find-and-fix")
      ::PostMessageW(form.CmdFFix, BM_CLICK, 0, 0);
    std::printf("%s\n", WaitIdle(form, Opts).c_str());
    return 0;
  }
  if (Command == "read-status") {
    const Form form = FindForm(Opts);
    PrintLine(::IsWindowVisible(form.LblFound) ? TextOf(form.LblFound) : L"");
    return 0;
  }
  if (Command == "check-status-colour")
    return CheckStatusColour(Opts);
  if (Command == "read-list")
    return ReadList(Opts);
  if (Command == "read-selection") {
    const Form form = FindForm(Opts);
    std::printf("%ld\n", static_cast<long>(Send(form.List1, LB_GETCURSEL)));
    return 0;
  }
  if (Command == "read-msgbox")
    return ReadMsgBox(Opts);
  if (Command == "answer-msgbox")
    return AnswerMsgBox(Args, Opts);
  if (Command == "type-ahead")
    return TypeAhead(Opts);
  if (Command == "exit-during-run")
    return ExitDuringRun(Opts);
  if (Command == "exit-button" || Command == "exit-alt-x" || Command == "exit-close-box")
    return EndProgram(Command, Opts);
  if (Command == "hold-file")
    return HoldFile(Args, 0);
  if (Command == "use-file")
    return HoldFile(Args, FILE_SHARE_READ);
  throw DriverError{"unknown command " + Command};
}

} // namespace
} // namespace vorse

namespace vorse {
namespace {

/// Parses the command line and runs the command; returns the exit status.
int Run(int argc, char **argv) {
  std::vector<std::string> args;
  Options opts;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--timeout" || arg == "--title") && i + 1 < argc) {
      const std::string value = argv[++i];
      if (arg == "--title")
        opts.Title = Widen(value);
      else if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
               value.size() > 6)
        throw DriverError{"--timeout takes whole seconds, not " + value};
      else
        opts.TimeoutMs = static_cast<DWORD>(std::stoul(value) * 1000);
      continue;
    }
    args.push_back(arg);
  }
  opts.TimeoutMs *= WaitFactor();
  if (args.empty())
    throw DriverError{"usage: vorse_window_driver COMMAND [ARGUMENTS] [--timeout SECONDS] "
                      "[--title TITLE] (the commands are listed at the top of its source)"};
  const std::string command = args.front();
  args.erase(args.begin());
  return Dispatch(command, args, opts);
}

} // namespace
} // namespace vorse

int main(int argc, char **argv) {
  // Coordinates and the DPI as the program itself sees them, not scaled for an unaware caller.
  ::SetProcessDPIAware();
  try {
    const int status = vorse::Run(argc, argv);
    std::fflush(stdout);
    return status;
  } catch (const vorse::DriverError &e) {
    std::fflush(stdout);
    std::fprintf(stderr, "vorse_window_driver: %s\n", e.Message.c_str());
  } catch (const std::exception &e) {
    std::fflush(stdout);
    std::fprintf(stderr, "vorse_window_driver: %s\n", e.what());
  }
  return vorse::kUsageError;
}
