// FakeControls: the window's labels, list box and message box in memory, recording every change.
#pragma once

#include "app/form_controls.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

namespace vorse {

/// Every change the form makes, in order, one line each ("LblFound.Caption=...",
/// "List1.ListIndex=3", "MsgBox=Reboot Notice", "KeepAlive").
using ControlLog = std::vector<std::string>;

class FakeLabel final : public Label {
public:
  FakeLabel(std::string Name, ControlLog &Log) : name_(std::move(Name)), log_(Log) {}
  void SetCaption(const std::string &Caption) override {
    caption_ = Caption;
    log_.push_back(name_ + ".Caption=" + Caption);
  }
  bool Visible() const override { return visible_; }
  void SetVisible(bool Visible) override {
    visible_ = Visible;
    log_.push_back(name_ + ".Visible=" + (Visible ? "1" : "0"));
  }
  void Refresh() override { log_.push_back(name_ + ".Refresh"); }
  const std::string &Caption() const { return caption_; }

private:
  std::string name_;
  ControlLog &log_;
  std::string caption_;
  bool visible_ = true;
};

class FakeListBox final : public ListBox {
public:
  explicit FakeListBox(ControlLog &Log) : log_(Log) {}
  void AddItem(const std::string &Text) override {
    rows_.push_back(Text);
    if (LogRows)
      log_.push_back("List1.AddItem=" + Text);
  }
  void Clear() override {
    rows_.clear();
    selected_ = -1;
    log_.push_back("List1.Clear");
  }
  std::int64_t ListCount() const override { return static_cast<std::int64_t>(rows_.size()); }
  /// Throws on a row that is not there, as a run that lost count would ask for.
  void SetListIndex(std::int64_t Index) override {
    if (Index < 0 || Index >= ListCount())
      throw std::out_of_range("List1.ListIndex " + std::to_string(Index));
    selected_ = Index;
    if (LogRows)
      log_.push_back("List1.ListIndex=" + std::to_string(Index));
  }
  std::string Text() const override {
    if (selected_ < 0 || selected_ >= ListCount())
      return {};
    return rows_[static_cast<std::size_t>(selected_)];
  }
  const std::vector<std::string> &Rows() const { return rows_; }
  std::int64_t Selected() const { return selected_; }
  /// Off for runs over many rows, to keep the log small.
  bool LogRows = true;

private:
  ControlLog &log_;
  std::vector<std::string> rows_;
  std::int64_t selected_ = -1;
};

struct MsgBoxCall {
  std::string Text;
  std::uint32_t Style;
  std::string Title;
};

class FakeControls final : public FormControls {
public:
  Label &LblInfo() override { return info_; }
  Label &LblFound() override { return found_; }
  ListBox &List1() override { return list_; }
  std::int32_t MsgBox(const std::string &Text, std::uint32_t Style,
                      const std::string &Title) override {
    boxes_.push_back({Text, Style, Title});
    log_.push_back("MsgBox=" + Title);
    if (Answers.empty())
      return kIdCancel;
    const std::int32_t answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
  std::uintptr_t WindowHandle() const override { return kWindowHandle; }
  void KeepAlive() override {
    ++keepAlives_;
    log_.push_back("KeepAlive");
  }

  static constexpr std::uintptr_t kWindowHandle = 0x1234;
  /// The buttons pressed in the message boxes to come, in order; Cancel once they run out.
  std::deque<std::int32_t> Answers;

  const FakeLabel &Info() const { return info_; }
  const FakeLabel &Found() const { return found_; }
  FakeListBox &List() { return list_; }
  const std::vector<MsgBoxCall> &Boxes() const { return boxes_; }
  const ControlLog &Log() const { return log_; }
  void ClearLog() { log_.clear(); }
  std::size_t KeepAlives() const { return keepAlives_; }

private:
  ControlLog log_;
  FakeLabel info_{"LblInfo", log_};
  FakeLabel found_{"LblFound", log_};
  FakeListBox list_{log_};
  std::vector<MsgBoxCall> boxes_;
  std::size_t keepAlives_ = 0;
};

} // namespace vorse
